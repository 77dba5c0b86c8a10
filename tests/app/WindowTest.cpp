// The window as a whole: controls, settings at start and close, library loading,
// the error handler, about box and help.
#include <QCheckBox>
#include <QScrollArea>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QSpinBox>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "app/FrmAbout.h"
#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"
#include "core/FFmpegException.h"
#include "tests/app/FormFixture.h"
#include "tests/common/ConvertTool.h"

using namespace apptest;
namespace fs = std::filesystem;

namespace {

std::string Processors() { return std::to_string(std::max(1, QThread::idealThreadCount())); }

std::vector<std::string> Items(QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
    return items;
}

}  // namespace

TEST_F(FormTest, ControlsCaptionsAndInitialState) {
    form = std::make_unique<TForm1>(dialogs, shutdown, Paths());
    EXPECT_EQ(form->windowTitle().toStdString(), "Ardentix");
    QTableView* lvw = form->Lvw;
    ASSERT_EQ(lvw->model()->columnCount(), 6);
    const char* captions[] = {"Input Filename", "Duration", "Size(Bytes)", "Output Filename", "Status", "Path"};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(lvw->model()->headerData(c, Qt::Horizontal).toString().toStdString(), captions[c]);
    EXPECT_TRUE(lvw->isColumnHidden(5));
    for (int c = 0; c < 5; ++c) EXPECT_FALSE(lvw->isColumnHidden(c));
    EXPECT_EQ(lvw->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(lvw->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(lvw->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(lvw->model()->rowCount(), 0);

    EXPECT_EQ(Caption(form->BtnAdd), "Add");
    EXPECT_EQ(Caption(form->BtnRemove), "Remove");
    EXPECT_EQ(Caption(form->BtnClear), "Clear");
    EXPECT_EQ(Caption(form->BtnMoveUp), "Move Up");
    EXPECT_EQ(Caption(form->BtnMoveDown), "Move Down");
    EXPECT_EQ(Caption(form->Label1), "Output Folder: ");
    EXPECT_TRUE(form->EdtOutputFolder->isReadOnly());
    EXPECT_EQ(Caption(form->BtnChangeOutputFolder), "...");
    EXPECT_EQ(form->GBOutput->title(), "Output Settings");
    EXPECT_EQ(form->GBOther->title(), "Other Settings");
    EXPECT_EQ(Caption(form->Label5), "Audio Channels: ");
    EXPECT_EQ(Caption(form->Label6), "Audio Bitrate: ");
    EXPECT_EQ(Caption(form->Label8), "kbps");
    EXPECT_EQ(Caption(form->Label10), "Audio Sample Rate: ");
    EXPECT_EQ(Caption(form->Label12), "Hz");
    EXPECT_EQ(Items(form->CboChannels),
              (std::vector<std::string>{"1 Channel, Mono", "2 Channels, Stereo", "Same as source"}));
    EXPECT_EQ(Items(form->CboAudioBitrate),
              (std::vector<std::string>{"16", "32", "48", "64", "80", "96", "112", "128", "160", "192", "224",
                                        "256", "288", "320", "VBR high", "VBR standard", "VBR small"}));
    EXPECT_EQ(Items(form->CboAudioSampleRate),
              (std::vector<std::string>{"8000", "16000", "22050", "32000", "44100", "48000", "Same as source"}));
    EXPECT_EQ(Caption(form->ChkCopyTags), "Copy tags");
    EXPECT_TRUE(form->ChkCopyTags->isChecked());
    EXPECT_EQ(form->CboChannels->currentIndex(), 1);
    EXPECT_EQ(form->CboAudioBitrate->currentText(), "256");
    EXPECT_EQ(form->CboAudioSampleRate->currentText(), "44100");
    EXPECT_EQ(Caption(form->LblExisting), "If an output exists: ");
    EXPECT_EQ(Items(form->CboExisting),
              (std::vector<std::string>{"Number the new file", "Skip the file", "Replace the old file"}));
    EXPECT_EQ(form->LblExisting->buddy(), form->CboExisting);
    EXPECT_EQ(Caption(form->ChkNextToSource), "Save next to each source file");
    EXPECT_EQ(Caption(form->ChkShutdown), "Shut down computer when completed");
    EXPECT_FALSE(form->ChkShutdown->isChecked());
    EXPECT_EQ(Caption(form->BtnStart), "Convert");
    EXPECT_EQ(Caption(form->BtnAbout), "About");
    EXPECT_EQ(Caption(form->BtnHelp), "Help");
    EXPECT_FALSE(form->LblProgress->isVisibleTo(form.get()));
    EXPECT_TRUE(form->LblProgress->text().isEmpty());
    // The list and the settings belong to the groups.
    EXPECT_TRUE(form->GBOutput->isAncestorOf(form->CboAudioBitrate));
    EXPECT_TRUE(form->GBOther->isAncestorOf(form->ChkShutdown));

    // Resizable, shown whole at first, and small enough for a 1366x768 screen at 200 %.
    form->show();
    QCoreApplication::processEvents();
    EXPECT_NE(form->minimumSize(), form->maximumSize());
    EXPECT_LE(form->minimumSizeHint().width(), 683);
    EXPECT_LE(form->minimumSizeHint().height(), 384);
    EXPECT_GE(form->width(), 600);
    EXPECT_TRUE(dialogs.Messages.empty());
}

// The size and the column widths of the last session come back, unless the
// size was squeezed below what the contents ask for or is larger than the screen.
TEST_F(FormTest, SizeAndColumnWidthsAreRemembered) {
    ASSERT_TRUE(Create());
    form->show();
    QCoreApplication::processEvents();
    const QSize screen = form->screen()->availableGeometry().size();
    const QSize comfortable = form->sizeHint().boundedTo(screen);
    const struct {
        QSize saved;
        QSize opened;
    } cases[] = {
        {screen, screen},
        {form->minimumSizeHint(), comfortable},
        {comfortable - QSize(0, 10), comfortable},
        {screen + QSize(400, 300), comfortable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.saved.width()) + "x" + std::to_string(c.saved.height()));
        form->resize(c.saved);
        form->Lvw->setColumnWidth(0, 222);
        Destroy();
        const std::string saved = "\nWindowSize=" + std::to_string(c.saved.width()) + "x" +
                                  std::to_string(c.saved.height()) + "\nColumnWidths=222,";
        EXPECT_NE(SettingsText(true).find(saved), std::string::npos) << SettingsText(true);
        ASSERT_TRUE(Create());
        form->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(form->size(), c.opened);
        EXPECT_EQ(form->Lvw->columnWidth(0), 222);
    }
}

TEST_F(FormTest, FirstStartWithoutSettingsFile) {
    ASSERT_TRUE(Create());
    const std::string folder = dir.File("music") + "/Ardentix/";
    EXPECT_EQ(OutputFolder(), folder);
    EXPECT_FALSE(fs::exists(folder));  // made when a run starts
    EXPECT_EQ(form->CboChannels->currentText(), "2 Channels, Stereo");
    EXPECT_EQ(form->CboAudioBitrate->currentText(), "256");
    EXPECT_EQ(form->CboAudioSampleRate->currentText(), "44100");
    EXPECT_EQ(form->PlanChoice().Existing, TExistingOutputs::Number);
    EXPECT_FALSE(form->ChkNextToSource->isChecked());
    EXPECT_FALSE(form->ChkShutdown->isChecked());
    EXPECT_TRUE(form->Engine().LibrariesLoaded());
    // Nothing is written while the window is open.
    EXPECT_FALSE(fs::exists(Paths().SettingsFile));

    // Closing writes the settings, making the settings folder first. Simultaneous
    // conversions the user never chose stay unchosen: each run decides them.
    form->CboAudioBitrate->setCurrentIndex(7);
    form->ChkShutdown->setChecked(true);
    Destroy();
    // No folder chosen: none is kept, and the default goes on following the kind.
    EXPECT_EQ(SettingsText(), "[Options]\nOutputPath=\nChannels=1\nAudioBitrate=7\nAudioSampleRate=4\nOverwrite=False\n"
                              "ShutdownAfterCompleted=True\nCopyTags=True\nSimultaneousConversions=0"
                              "\nLastAddFolder=\nOutputFormat=mp3\nVideoNorm=pal\nShowPreview=False\n"
                              "MaxPictureSize=\nOtherChannels=0\nOtherAudioBitrate=0\nOtherAudioSampleRate=0\n"
                              "AllAudioTracks=True\nVorbisQuality=\nFlacCompression=\nExistingOutputs=number\n"
                              "OutputNextToSource=False\nRemoveBlackBars=True\nDeinterlace=auto\n");
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_FALSE(FFmpegLoader().LibsLoaded(DefaultLibs));  // released at closing
}

TEST_F(FormTest, StoredSettingsAreShown) {
    const std::string out = dir.File("out");
    WriteSettingsText("[Options]\nOutputPath=" + out +
                      "\nChannels=0\nAudioBitrate=0x2\nAudioSampleRate=5\nOverwrite=False\n"
                      "ShutdownAfterCompleted=True\nCopyTags=False\nSimultaneousConversions=1\nLastAddFolder=/music/in\n"
                      "OutputFormat=dvd\nVideoNorm=ntsc\nShowPreview=True\nMaxPictureSize=854x480\n"
                      "OtherChannels=2\nOtherAudioBitrate=4\nOtherAudioSampleRate=1\nAllAudioTracks=False\n"
                      "VorbisQuality=5\nFlacCompression=12\nRemoveBlackBars=False\nDeinterlace=on\n");
    ASSERT_TRUE(Create());
    EXPECT_EQ(OutputFolder(), out + "/");  // a separator is added
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(form->CboChannels->currentText(), "1 Channel, Mono");
    EXPECT_EQ(form->CboAudioBitrate->currentText(), "48");
    EXPECT_EQ(form->CboAudioSampleRate->currentText(), "48000");
    EXPECT_EQ(form->CboExisting->currentText(), "Number the new file");
    EXPECT_TRUE(form->ChkShutdown->isChecked());
    EXPECT_FALSE(form->ChkCopyTags->isChecked());
    EXPECT_EQ(form->SimultaneousConversions(), 1);
    EXPECT_EQ(form->CboFormat->currentText(), "DVD (MPEG-2)");
    EXPECT_EQ(form->CboNorm->currentText(), "NTSC");
    EXPECT_TRUE(form->ChkPreview->isChecked());
    EXPECT_EQ(form->CboMaxPicture->currentText(), "854x480");
    EXPECT_TRUE(form->CboMaxPicture->isHidden());  // DVD has its own picture size
    EXPECT_TRUE(form->Engine().Preview());
    // MP4 shows the video kinds' own audio choices, MP3 its own again.
    form->CboFormat->setCurrentText("MP4 video (H.264/AAC)");
    EXPECT_EQ(form->CboChannels->currentText(), "2 Channels, Stereo");
    EXPECT_EQ(form->CboAudioBitrate->currentText(), "64");
    EXPECT_EQ(form->CboAudioSampleRate->currentText(), "8000");
    EXPECT_FALSE(form->findChild<QCheckBox*>("ChkAllAudioTracks")->isChecked());
    form->CboFormat->setCurrentText("Ogg Vorbis audio");
    EXPECT_FALSE(form->CboQuality->isHidden());
    EXPECT_EQ(form->CboQuality->currentText(), "5");
    form->CboFormat->setCurrentText("FLAC audio (lossless)");
    EXPECT_EQ(form->CboQuality->currentText(), "12");
    form->CboFormat->setCurrentText("WAV audio (uncompressed)");
    EXPECT_FALSE(form->CboAudioBitrate->isEnabled());  // every sample kept: nothing to choose
    form->CboFormat->setCurrentText("MP3 audio");
    EXPECT_TRUE(form->CboQuality->isHidden());
    EXPECT_EQ(form->CboAudioBitrate->currentText(), "48");
    form->CboFormat->setCurrentText("DVD (MPEG-2)");
    EXPECT_FALSE(form->ChkRemoveBlackBars->isChecked());
    EXPECT_EQ(form->CboDeinterlace->currentText(), "On");
    Destroy();
    // Written back as read, indexes in decimal.
    EXPECT_EQ(SettingsText(), "[Options]\nOutputPath=" + out +
                                  "/\nChannels=0\nAudioBitrate=2\nAudioSampleRate=5\nOverwrite=False\n"
                                  "ShutdownAfterCompleted=True\nCopyTags=False\nSimultaneousConversions=1\nLastAddFolder=/music/in\n"
                                  "OutputFormat=dvd\nVideoNorm=ntsc\nShowPreview=True\nMaxPictureSize=854x480\n"
                                  "OtherChannels=2\nOtherAudioBitrate=4\nOtherAudioSampleRate=1\nAllAudioTracks=False\n"
                                  "VorbisQuality=5\nFlacCompression=12\nRemoveBlackBars=False\nDeinterlace=on\n"
                                  "ExistingOutputs=number\nOutputNextToSource=False\n");
}

TEST_F(FormTest, BadStoredSettingsFallBack) {
    const std::string out = dir.File("out") + "/";
    WriteSettingsText("[Options]\nOutputPath=" + out +
                      "\nChannels=7\nAudioBitrate=-1\nAudioSampleRate=zero\nOverwrite=true\n"
                      "ShutdownAfterCompleted=yes\nOutputFormat=webm\nVideoNorm=secam\nShowPreview=1\n"
                      "MaxPictureSize=1000x1000\n");
    ASSERT_TRUE(Create());
    EXPECT_EQ(OutputFolder(), out);  // already ends with a separator: unchanged
    // Indexes outside their lists keep the list's default, so a run always has values.
    EXPECT_EQ(form->CboChannels->currentIndex(), 1);
    EXPECT_EQ(form->CboAudioBitrate->currentIndex(), 11);
    EXPECT_EQ(form->CboAudioSampleRate->currentIndex(), 4);
    // Only "True" ticks.
    EXPECT_EQ(form->PlanChoice().Existing, TExistingOutputs::Number);
    EXPECT_FALSE(form->ChkShutdown->isChecked());
    EXPECT_FALSE(form->ChkPreview->isChecked());
    // A kind the window does not offer, and a standard it does not know.
    EXPECT_EQ(form->CboFormat->currentText(), "MP3 audio");
    EXPECT_EQ(form->CboNorm->currentText(), "PAL");
    EXPECT_EQ(form->CboMaxPicture->currentText(), "No limit");  // a size the list does not offer
}

// A number of files at once that this machine cannot follow gives one per processor.
TEST_F(FormTest, SimultaneousConversionsStayWithinTheProcessors) {
    for (const char* stored : {"0", "-3", "100000", "two", ""}) {
        SCOPED_TRACE(stored);
        WriteSettingsText(std::string("[Options]\nSimultaneousConversions=") + stored + "\n");
        ASSERT_TRUE(Create());
        EXPECT_EQ(form->SimultaneousConversions(), std::stoi(Processors()));
        EXPECT_EQ(form->SpnSimultaneous->minimum(), 1);
        EXPECT_EQ(form->SpnSimultaneous->maximum(), std::stoi(Processors()));
        Destroy();
    }
}

// A number the user sets is kept; one read from the settings stays chosen.
TEST_F(FormTest, ChosenSimultaneousConversionsAreKept) {
    ASSERT_TRUE(Create());
    form->SpnSimultaneous->setValue(1);
    Destroy();
    EXPECT_NE(SettingsText().find("\nSimultaneousConversions=1\n"), std::string::npos) << SettingsText();
    ASSERT_TRUE(Create());
    Destroy();
    EXPECT_NE(SettingsText().find("\nSimultaneousConversions=1\n"), std::string::npos) << SettingsText();
}

TEST_F(FormTest, RandomBytesAsSettingsFile) {
    fs::create_directories(fs::path(Paths().SettingsFile).parent_path());
    const std::string random = ardentix::test::MakeRandom(dir, "rnd", 20000, 3);
    fs::copy_file(random, Paths().SettingsFile);
    ASSERT_TRUE(Create());
    EXPECT_EQ(form->CboAudioBitrate->currentIndex(), 11);
    EXPECT_EQ(form->PlanChoice().Existing, TExistingOutputs::Number);
    Destroy();
    EXPECT_NE(SettingsText().find("[Options]\nOutputPath="), std::string::npos);
}

TEST_F(FormTest, FailedLibraryLoadEndsTheProgramAndKeepsTheSettings) {
    // Broken copies of every library in the program's LibAV folder.
    const std::string libav = dir.File("prog/LibAV");
    fs::create_directories(libav);
    for (int i = 0; i < FFmpegLibCount; ++i)
        std::ofstream(libav + "/" + TFFmpegLoader::LibFileName(static_cast<TFFmpegLib>(i))) << "not a library";
    const std::string stored = "[Options]\nOutputPath=" + dir.File("mine") +
                               "/\nChannels=0\nAudioBitrate=3\nAudioSampleRate=2\nOverwrite=False\n"
                               "ShutdownAfterCompleted=False\nCopyTags=True\nSimultaneousConversions=1\nLastAddFolder=/music/in\n"
                               "OutputFormat=vcd\nVideoNorm=ntsc\nShowPreview=True\nMaxPictureSize=1280x720\n"
                               "OtherChannels=0\nOtherAudioBitrate=0\nOtherAudioSampleRate=0\nAllAudioTracks=True\n"
                               "VorbisQuality=\nFlacCompression=\nExistingOutputs=skip\nOutputNextToSource=True\nRemoveBlackBars=True\nDeinterlace=auto\n";
    WriteSettingsText(stored);
    EXPECT_FALSE(Create());
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    const TShownMessage& m = dialogs.Messages[0];
    EXPECT_EQ(m.Title, "Error");
    EXPECT_EQ(m.Icon, TMessageIcon::Error);
    EXPECT_EQ(m.Text.rfind("Load library " + libav + "/", 0), 0u) << m.Text;
    const std::string tail = ". Please re-install the program and try it again.";
    ASSERT_GT(m.Text.size(), tail.size());
    EXPECT_EQ(m.Text.substr(m.Text.size() - tail.size()), tail);
    // The closing steps ran: the settings were written, and they are still the user's.
    EXPECT_EQ(SettingsText(), stored);
    EXPECT_FALSE(fs::exists(dir.File("mine")));  // no output folder made after a failed start
    EXPECT_FALSE(form->isVisible());
    Destroy();
    EXPECT_EQ(dialogs.Messages.size(), 1u);
}

TEST_F(FormTest, SettingsThatCannotBeWrittenAreReported) {
    ASSERT_TRUE(Create());
    // A file stands where the settings folder must go.
    fs::create_directories(dir.File("config"));
    std::ofstream(dir.File("config/Ardentix")) << "x";
    Destroy();
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text, "Unable to write to " + Paths().SettingsFile + ".");
    EXPECT_EQ(dialogs.Messages[0].Title, "Ardentix");
    EXPECT_EQ(dialogs.Messages[0].Icon, TMessageIcon::Error);
}

TEST_F(FormTest, ErrorHandlerIconsAndFullStop) {
    form = std::make_unique<TForm1>(dialogs, shutdown, Paths());
    form->ApplicationException(FFmpegException("Could not open codec"));
    form->ApplicationException(Exception("Already ends."));
    form->ApplicationException(Exception("Ends with a bracket)"));
    form->ApplicationException(Exception(""));
    ASSERT_EQ(dialogs.Messages.size(), 4u);
    EXPECT_EQ(dialogs.Messages[0].Text, "Could not open codec.");
    EXPECT_EQ(dialogs.Messages[0].Icon, TMessageIcon::Warning);
    EXPECT_EQ(dialogs.Messages[0].Title, "Ardentix");
    EXPECT_EQ(dialogs.Messages[1].Text, "Already ends.");
    EXPECT_EQ(dialogs.Messages[1].Icon, TMessageIcon::Error);
    // ")" sorts before ".", so nothing is added.
    EXPECT_EQ(dialogs.Messages[2].Text, "Ends with a bracket)");
    EXPECT_EQ(dialogs.Messages[3].Text, "");
}

TEST_F(FormTest, AboutBoxIsModalAndClosesWithOk) {
    ASSERT_TRUE(Create());
    std::string title, label;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<TFrmAbout*>(QApplication::activeModalWidget());
        if (!about) return;
        modal = about->isModal();
        title = about->windowTitle().toStdString();
        label = about->LblTitle->text().toStdString();
        EXPECT_GE(about->width(), 280);
        EXPECT_GE(about->height(), 233);
        EXPECT_EQ(about->BtnOk->text(), "OK");
        about->BtnOk->click();
    });
    form->BtnAboutClick();
    EXPECT_TRUE(modal);
    EXPECT_EQ(title, "About Ardentix");
    EXPECT_EQ(label, "Ardentix " + ardentix::test::ChangelogVersion());
    EXPECT_EQ(form->findChildren<TFrmAbout*>().size(), 0);  // freed when closed
}

TEST_F(FormTest, HelpOpensTheGuideBesideTheProgram) {
    std::ofstream(dir.File("prog/help.html")) << "<html></html>";
    ASSERT_TRUE(Create());
    form->BtnHelp->click();
    ASSERT_EQ(dialogs.Opened.size(), 1u);
    EXPECT_EQ(dialogs.Opened[0], dir.File("prog") + "/help.html");  // a single separator
}

TEST_F(FormTest, HelpOfAnInstalledProgram) {
    // bin/ardentix with the guide in share/ardentix/.
    fs::create_directories(dir.File("prog/../share/ardentix"));
    std::ofstream(dir.File("share/ardentix/help.html")) << "<html></html>";
    ASSERT_TRUE(Create());
    form->BtnHelp->click();
    ASSERT_EQ(dialogs.Opened.size(), 1u);
    EXPECT_EQ(dialogs.Opened[0], dir.File("share/ardentix/help.html"));
}

TEST_F(FormTest, HelpWithoutAProgramToOpenItTellsWhereTheGuideIs) {
    std::ofstream(dir.File("prog/help.html")) << "<html></html>";
    ASSERT_TRUE(Create());
    dialogs.CanOpen = false;
    form->BtnHelp->click();
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_NE(dialogs.Messages[0].Text.find("\n" + dir.File("prog") + "/help.html"), std::string::npos)
        << dialogs.Messages[0].Text;
    EXPECT_EQ(dialogs.Messages[0].Icon, TMessageIcon::Information);
}

TEST_F(FormTest, OutputFolderChooser) {
    ASSERT_TRUE(Create());
    const std::string before = OutputFolder();
    form->BtnChangeOutputFolder->click();  // cancelled
    EXPECT_EQ(OutputFolder(), before);
    ASSERT_EQ(dialogs.FolderPrompts.size(), 1u);
    EXPECT_EQ(dialogs.FolderPrompts[0], "Please select output folder");
    dialogs.FolderAnswers = {dir.File("music"), "/"};
    form->BtnChangeOutputFolder->click();
    EXPECT_EQ(OutputFolder(), dir.File("music") + "/");
    EXPECT_FALSE(fs::exists(dir.File("music")));  // made only when a run starts
    form->BtnChangeOutputFolder->click();
    EXPECT_EQ(OutputFolder(), "/");
    // The chooser opens where the output goes now.
    EXPECT_EQ(dialogs.FolderStarts, (std::vector<std::string>{before, before, dir.File("music") + "/"}));
}

// Until the user chooses a folder, the default follows the kind and none is
// kept; next to the sources, the folder row is unused and the rows show the
// sources' folders.
TEST_F(FormTest, WhereOutputsGo) {
    ASSERT_TRUE(Create());
    EXPECT_EQ(OutputFolder(), dir.File("music") + "/Ardentix/");
    form->CboFormat->setCurrentText("MP4 video (H.264/AAC)");
    EXPECT_EQ(OutputFolder(), dir.File("videos") + "/Ardentix/");
    AddThroughDialog({ardentix::test::MakeRealAudio144(dir, "a.ra", 0.5)});
    form->ChkNextToSource->setChecked(true);
    EXPECT_FALSE(form->BtnChangeOutputFolder->isEnabled());
    EXPECT_TRUE(Tip(0, colOutputFilename).contains(QString::fromStdString(dir.File("a.mp4"))));
    Destroy();
    EXPECT_NE(SettingsText().find("\nOutputPath=\n"), std::string::npos) << SettingsText();
    EXPECT_NE(SettingsText().find("\nOutputNextToSource=True\n"), std::string::npos) << SettingsText();
    ASSERT_TRUE(Create());
    EXPECT_TRUE(form->ChkNextToSource->isChecked());
    dialogs.FolderAnswers = {dir.File("mine")};
    form->ChkNextToSource->setChecked(false);
    form->BtnChangeOutputFolder->click();
    form->CboFormat->setCurrentIndex(0);
    EXPECT_EQ(OutputFolder(), dir.File("mine") + "/") << "a chosen folder stays whatever the kind";
    Destroy();
    EXPECT_NE(SettingsText().find("\nOutputPath=" + dir.File("mine") + "/\n"), std::string::npos) << SettingsText();
}

// "Add folder..." lists a folder's media files, their outputs in its shape.
TEST_F(FormTest, AddFolderListsItsFilesWithTheirOutputsInItsShape) {
    ASSERT_TRUE(Create());
    for (const char* year : {"1998", "1999"}) {
        fs::create_directories(dir.File(std::string("radio/") + year));
        ardentix::test::MakeRealAudio144(dir, std::string("radio/") + year + "/news.ra", 0.5);
    }
    dialogs.FolderAnswers = {dir.File("radio")};
    form->BtnAddFolder->click();
    WaitRead();
    ASSERT_EQ(Rows(), 2);
    for (int row = 0; row < 2; ++row) {
        const std::string tip = Tip(row, colOutputFilename).toStdString();
        EXPECT_NE(tip.find(std::string(row == 0 ? "1998" : "1999") + "/news.mp3"), std::string::npos) << tip;
    }
    EXPECT_EQ(dialogs.FolderPrompts.back(), "Choose a Folder to Convert");
}
