// Batch runs through the real engine: MP3 files decoded back, stop, failures,
// name collisions and the shutdown after a run.
#include <QLabel>
#include <QTest>

#include <filesystem>
#include <regex>

#include "tests/app/FormFixture.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/VideoCheck.h"

using namespace apptest;
using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

class BatchRunTest : public RunFormTest {
protected:
    // The decoded output, checked to be a whole MP3 of the expected shape.
    DecodedAudio ExpectMp3(const std::string& path, long rate, int channels, double seconds) {
        DecodedAudio a = DecodeMp3(path);
        EXPECT_TRUE(a.ok) << path << ": " << a.error;
        EXPECT_EQ(a.layer, 3);
        EXPECT_EQ(a.rate, rate);
        EXPECT_EQ(a.channels, channels);
        EXPECT_NEAR(a.Seconds(), seconds, 0.15) << path;
        return a;
    }
    void ExpectIdle() {
        EXPECT_EQ(Caption(form->BtnStart), "Convert");
        EXPECT_FALSE(form->RunGoing());
        for (QWidget* w : std::initializer_list<QWidget*>{form->BtnAdd, form->BtnRemove, form->BtnClear,
                                                          form->BtnMoveUp, form->BtnMoveDown,
                                                          form->BtnChangeOutputFolder, form->BtnAbout,
                                                          form->BtnHelp, form->GBOutput, form->GBOther})
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_FALSE(form->LblProgress->isVisibleTo(form.get()));
        // The batch's line stays after a run, telling how it went.
        EXPECT_EQ(form->LblBatch->isVisibleTo(form.get()), form->BatchProgress().Files() > 0);
        EXPECT_EQ(form->Engine().TaskCount(), 0);
    }
    // The summaries shown so far.
    std::vector<std::string> SummaryTexts() const {
        std::vector<std::string> t;
        for (const auto& s : dialogs.Summaries) t.push_back(s.Text);
        return t;
    }
};

const char* const Finished = "File conversion process finished.";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(BatchRunTest, ThreeFilesAreConvertedOneAfterAnother) {
    const std::string a = MakeRealAc3(dir, "one.rm", 2.0, 44100, 2, {440, 1000});
    const std::string b = MakeRealAudio144(dir, "two.ra", 1.5, 660);
    const std::string c = MakeRealAc3(dir, "three.rmvb", 1.0, 48000, 1, {880});
    AddThroughDialog({a, b, c});
    ASSERT_EQ(Rows(), 3);
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Number));
    RunToEnd();

    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Completed");
    EXPECT_EQ(Status(2), "Completed");
    // One summary at the end, shown after the caption went back, and no box.
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_EQ(dialogs.Summaries[0].StartCaption, "Convert");
    EXPECT_EQ(dialogs.Summaries[0].Folder, out);  // "Open folder"
    const std::string summary = dialogs.Summaries[0].Text;
    EXPECT_EQ(summary.rfind(Finished, 0), 0u) << summary;
    EXPECT_TRUE(Contains(summary, "3 files: 3 converted, 0 failed.")) << summary;
    EXPECT_TRUE(Contains(summary, a + " \u2192 " + out + "one.mp3")) << summary;
    EXPECT_FALSE(Contains(summary, "Failed:")) << summary;
    EXPECT_TRUE(dialogs.Messages.empty());
    ExpectIdle();
    EXPECT_EQ(shutdown.Calls, 0);

    // 256 kbit/s, 44100 Hz, stereo from the default settings; each tone made it through.
    DecodedAudio one = ExpectMp3(out + "one.mp3", 44100, 2, 2.0);
    EXPECT_EQ(one.bitrateKbps, 256);
    EXPECT_NEAR(DominantFrequency(one.Channel(0), one.rate), 440, 5);
    EXPECT_NEAR(DominantFrequency(one.Channel(1), one.rate), 1000, 5);
    DecodedAudio two = ExpectMp3(out + "two.mp3", 44100, 2, 1.5);
    EXPECT_NEAR(DominantFrequency(two.Channel(0), two.rate), 660, 8);
    DecodedAudio three = ExpectMp3(out + "three.mp3", 44100, 2, 1.0);
    EXPECT_NEAR(DominantFrequency(three.Channel(1), three.rate), 880, 5);

    // A second run over the same rows, once the user agrees: the names are
    // taken now, and the rows show the names written.
    dialogs.AskAnswers = {1};
    form->BtnStart->click();
    EXPECT_FALSE(form->RunGoing());  // "Cancel": nothing converted again
    ASSERT_EQ(dialogs.Questions.size(), 1u);
    EXPECT_EQ(dialogs.Questions[0].Buttons, (std::vector<std::string>{"Convert &again", "&Cancel"}));
    EXPECT_FALSE(fs::exists(out + "one(1).mp3"));
    RunToEnd();
    EXPECT_EQ(dialogs.Questions.size(), 2u);
    EXPECT_EQ(Status(2), "Completed");
    EXPECT_TRUE(fs::exists(out + "one(1).mp3"));
    EXPECT_TRUE(fs::exists(out + "three(1).mp3"));
    EXPECT_EQ(Cell(0, colOutputFilename), "one(1).mp3");
    EXPECT_EQ(Cell(2, colOutputFilename), "three(1).mp3");
    EXPECT_EQ(Tip(0, colOutputFilename).contains(QString::fromStdString(out + "one(1).mp3")),
              true);
    EXPECT_EQ(dialogs.Summaries.size(), 2u);
}

// Changing what is written after a run turns the done rows back to waiting,
// so Convert asks nothing; how existing outputs are met writes nothing else.
// A skipped row says so and names the file that was there.
TEST_F(BatchRunTest, ChangingWhatIsWrittenMakesDoneRowsWaitAgain) {
    AddThroughDialog({MakeRealAudio144(dir, "a.ra", 0.5), MakeRealAudio144(dir, "b.ra", 0.5)});
    WriteFileBytes(out + "b.mp3", "old");
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Skip));
    RunToEnd();
    EXPECT_EQ(Status(1), "Skipped");
    EXPECT_EQ(Cell(1, colOutputFilename), "b.mp3");
    EXPECT_TRUE(Tip(1, colStatus).contains("The output exists already"));
    EXPECT_TRUE(Contains(dialogs.Summaries.back().Text, "1 skipped: their outputs exist already."));
    const std::function<void()> changes[] = {[&] { form->CboAudioBitrate->setCurrentText("64"); },
                                             [&] { form->ChkCopyTags->setChecked(false); },
                                             [&] { form->CboFormat->setCurrentIndex(1); }};
    for (const auto& change : changes) {
        form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Replace));
        EXPECT_EQ(Status(0), "Completed");
        change();
        EXPECT_EQ(Status(0) + Status(1), "");
        form->CboFormat->setCurrentIndex(0);
        RunToEnd();
        EXPECT_TRUE(dialogs.Questions.empty());
    }
}

TEST_F(BatchRunTest, SettingsReachTheEncoder) {
    form->CboChannels->setCurrentIndex(0);
    form->CboAudioBitrate->setCurrentText("64");
    form->CboAudioSampleRate->setCurrentText("22050");
    AddThroughDialog({MakeRealAc3(dir, "s.rm", 2.0, 44100, 2, {500, 500})});
    RunToEnd();
    EXPECT_EQ(Status(0), "Completed");
    DecodedAudio s = ExpectMp3(out + "s.mp3", 22050, 1, 2.0);
    EXPECT_EQ(s.bitrateKbps, 64);
    EXPECT_NEAR(DominantFrequency(s.Channel(0), s.rate), 500, 5);
}

// "Same as source" keeps speech as it was recorded; tags follow "Copy tags".
TEST_F(BatchRunTest, SameAsSourceQualityAndTagChoicesReachTheFile) {
    form->CboChannels->setCurrentText("Same as source");
    form->CboAudioSampleRate->setCurrentText("Same as source");
    form->CboAudioBitrate->setCurrentText("VBR small");
    const std::string song = MakeFixture(dir, "song.rm", "rm-ac3",
                                         {"--seconds", "1", "--title", "Caf\xc3\xa9 \xce\xa9", "--author", "Band"});
    AddThroughDialog({MakeWav(dir, "speech.wav", 1.0, 16000, 1), song});
    RunToEnd();
    ASSERT_EQ(Status(0), "Completed");
    ASSERT_EQ(Status(1), "Completed");
    const DecodedAudio speech = ExpectMp3(out + "speech.mp3", 16000, 1, 1.0);
    EXPECT_LT(speech.minBitrateKbps, speech.maxBitrateKbps) << "variable bit rate";
    ExpectMp3(out + "song.mp3", 44100, 2, 1.0);
    if (HaveMediaInfo()) {
        EXPECT_EQ(MediaInfoField(out + "song.mp3", "General", "Title"), "Caf\xc3\xa9 \xce\xa9");
        EXPECT_EQ(MediaInfoField(out + "song.mp3", "General", "Performer"), "Band");
    }

    form->ChkCopyTags->setChecked(false);
    form->CboAudioBitrate->setCurrentText("128");
    RunToEnd();
    ASSERT_EQ(Status(1), "Completed");
    const DecodedAudio plain = ExpectMp3(out + "song(1).mp3", 44100, 2, 1.0);
    EXPECT_EQ(plain.minBitrateKbps, 128);
    EXPECT_EQ(plain.maxBitrateKbps, 128);
    if (HaveMediaInfo()) EXPECT_EQ(MediaInfoField(out + "song(1).mp3", "General", "Title"), "");
}

TEST_F(BatchRunTest, StartWithAnEmptyList) {
    form->BtnStart->click();
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text, "Please select files to be converted.");
    EXPECT_EQ(dialogs.Messages[0].Title, "Information");
    EXPECT_EQ(dialogs.Messages[0].Icon, TMessageIcon::Information);
    ExpectIdle();
    EXPECT_FALSE(fs::exists(out + "x"));
}

TEST_F(BatchRunTest, StopDuringTheSecondFile) {
    form->Engine().SetProgressInterval(100);
    form->ChkShutdown->setChecked(true);
    AddThroughDialog({MakeRealAudio144(dir, "first.ra", 1.0), MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440}),
                      MakeRealAudio144(dir, "third.ra", 1.0)});
    ASSERT_EQ(Rows(), 3);
    form->BtnStart->click();
    EXPECT_EQ(Caption(form->BtnStart), "Stop");
    EXPECT_FALSE(form->BtnAdd->isEnabled());
    EXPECT_FALSE(form->GBOutput->isEnabled());
    EXPECT_TRUE(form->Lvw->isEnabled());
    EXPECT_TRUE(form->LblProgress->isVisibleTo(form.get()));
    EXPECT_TRUE(form->PbBatch->isVisibleTo(form.get()));
    ASSERT_TRUE(WaitUntil([&] { return Status(1).find("% Completed") != std::string::npos; }));
    EXPECT_EQ(Status(0), "Completed");
    // Sound is told by its time and speed, not by frames.
    ASSERT_TRUE(WaitUntil([&] { return form->LblProgress->text().contains(QChar(0x00d7)); }));
    EXPECT_TRUE(std::regex_match(form->LblProgress->text().toStdString(),
                                 std::regex("[0-9]{2}:[0-9]{2} of 05:00 \u00b7 [0-9.]+\u00d7 real time")))
        << form->LblProgress->text().toStdString();
    EXPECT_TRUE(std::regex_match(form->LblBatch->text().toStdString(),
                                 std::regex("File 2 of 3 \u00b7 [0-9]+% \u00b7 [0-9]{2}:[0-9]{2} elapsed \u00b7 .*")))
        << form->LblBatch->text().toStdString();
    form->BtnStart->click();
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_TRUE(KeptShorter(Status(1))) << Status(1);
    EXPECT_EQ(Status(2), " ");
    ExpectIdle();
    // Late events of the stopped run change nothing.
    QCoreApplication::processEvents();
    EXPECT_TRUE(KeptShorter(Status(1))) << Status(1);
    // The summary tells what the stopped run did; the line no longer speaks of a file to come.
    EXPECT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_EQ(form->LblBatch->text().toStdString().rfind("Stopped \u00b7 1 of 3 files converted \u00b7 ", 0), 0u)
        << form->LblBatch->text().toStdString();
    EXPECT_LT(form->PbBatch->value(), 100);
    EXPECT_EQ(shutdown.Calls, 0);
    ExpectMp3(out + "first.mp3", 44100, 2, 1.0);
    // The file that never ran leaves nothing behind.
    EXPECT_FALSE(fs::exists(out + "third.mp3"));
}

TEST_F(BatchRunTest, PauseHoldsTheFilesAndTheClockUntilResumedOrStopped) {
    form->show();  // active, for its key
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Engine().SetProgressInterval(100);
    AddThroughDialog({MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440}), MakeRealAudio144(dir, "next.ra", 1.0)});
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(0).find("% Completed") != std::string::npos; }));
    // Its key reaches it during the run, past the locked controls that share the letter.
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    ASSERT_TRUE(WaitUntil([&] { return Caption(form->BtnPause) == "Resume"; }, std::chrono::seconds(5)));
    QTest::qWait(300);  // a record already on its way
    const std::string held = Status(0);
    const QString line = form->LblBatch->text();
    QTest::qWait(1500);
    // The file says it waits, the time taken did not move, and the next file did not start.
    EXPECT_EQ(held, "Paused");
    EXPECT_EQ(Status(0) + Status(1), held + " ");
    EXPECT_EQ(form->LblBatch->text(), line);
    EXPECT_TRUE(line.endsWith("paused")) << line.toStdString();
    form->BtnPause->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(0) != held; }));
    form->BtnPause->click();
    form->BtnStart->click();  // Stop ends a paused run as it ends a running one
    EXPECT_EQ(Status(0).rfind("Stopped (", 0), 0u) << Status(0);  // with how much it holds
    EXPECT_EQ(Status(1), " ");
    EXPECT_FALSE(form->BtnPause->isVisibleTo(form.get()));
    ExpectIdle();
}

TEST_F(BatchRunTest, AFailingFileIsMarkedAndTheRunEndsNormally) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 1.0);
    const std::string gone = MakeRealAudio144(dir, "gone.ra", 1.0);
    // Accepted when added, but a file without sound gives an output without streams.
    const std::string silent = MakeRealVideo(dir, "video-only.rm", 1.0, "rv10", RealAudio::None);
    const std::string c = MakeRealAudio144(dir, "c.ra", 1.0);
    AddThroughDialog({a, gone, silent, c});
    ASSERT_EQ(Rows(), 4);
    fs::remove(gone);  // between adding and converting: no task for it at the start
    RunToEnd();

    // Each row is marked through its own task, so nothing shifts after a
    // failure; the reason is in the row's tooltip, and no box held the run.
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Failed");
    EXPECT_EQ(Status(2), "Failed");
    EXPECT_EQ(Status(3), "Completed");
    const std::string notSupported = "Cannot read the input: no such file or directory";
    const std::string noStream = "The input has nothing to write as this format: Output file #0 does not contain any stream";
    EXPECT_TRUE(Tip(1, colStatus).contains(QString::fromStdString(notSupported).toHtmlEscaped()));
    EXPECT_TRUE(Tip(2, colStatus).contains(QString::fromStdString(noStream)));
    EXPECT_TRUE(dialogs.Messages.empty()) << dialogs.Messages[0].Text;
    // The run still ends as a run: caption back, then one summary with every failure and why.
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_EQ(dialogs.Summaries[0].StartCaption, "Convert");
    const std::string summary = dialogs.Summaries[0].Text;
    EXPECT_TRUE(Contains(summary, "4 files: 2 converted, 2 failed.")) << summary;
    EXPECT_TRUE(Contains(summary, "Failed:\n  " + gone + ": " + notSupported + "\n  " + silent + ": " + noStream))
        << summary;
    EXPECT_TRUE(Contains(summary, "Converted:\n  " + a + " \u2192 " + out + "a.mp3\n  " + c + " \u2192 " + out + "c.mp3"))
        << summary;
    ExpectIdle();
    ExpectMp3(out + "a.mp3", 44100, 2, 1.0);
    ExpectMp3(out + "c.mp3", 44100, 2, 1.0);
}

TEST_F(BatchRunTest, NothingConvertibleStillEndsTheRun) {
    const std::string gone = MakeRealAudio144(dir, "gone.ra", 1.0);
    AddThroughDialog({gone});
    fs::remove(gone);
    RunToEnd();
    EXPECT_EQ(Status(0), "Failed");
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_EQ(dialogs.Summaries[0].StartCaption, "Convert");
    EXPECT_TRUE(Contains(dialogs.Summaries[0].Text, "1 file: 0 converted, 1 failed.")) << dialogs.Summaries[0].Text;
    ExpectIdle();
}

TEST_F(BatchRunTest, SameNamesInOneRunNeverWriteOverEachOther) {
    fs::create_directories(dir.File("x"));
    fs::create_directories(dir.File("y"));
    const std::string lo = MakeRealAc3(dir, "x/song.rm", 1.0, 44100, 1, {440});
    const std::string hi = MakeRealAc3(dir, "y/song.rm", 1.0, 44100, 1, {1500});
    // Also when the files are converted side by side.
    for (const auto& [overwrite, atOnce] : {std::pair{false, 1}, {true, 1}, {false, 2}, {true, 2}}) {
        SCOPED_TRACE(std::string(overwrite ? "overwriting, " : "keeping, ") + std::to_string(atOnce) + " at once");
        for (const auto& e : fs::directory_iterator(out)) fs::remove(e.path());
        const TExistingOutputs rule = overwrite ? TExistingOutputs::Replace : TExistingOutputs::Number;
        form->CboExisting->setCurrentIndex(static_cast<int>(rule));
        form->SpnSimultaneous->setValue(atOnce);
        form->BtnClear->click();
        AddThroughDialog({lo, hi, lo});
        ASSERT_EQ(Rows(), 3);
        RunToEnd();
        DecodedAudio first = ExpectMp3(out + "song.mp3", 44100, 2, 1.0);
        DecodedAudio second = ExpectMp3(out + "song(1).mp3", 44100, 2, 1.0);
        DecodedAudio third = ExpectMp3(out + "song(2).mp3", 44100, 2, 1.0);
        EXPECT_NEAR(DominantFrequency(first.Channel(0), first.rate), 440, 5);
        EXPECT_NEAR(DominantFrequency(second.Channel(0), second.rate), 1500, 8);
        EXPECT_NEAR(DominantFrequency(third.Channel(0), third.rate), 440, 5);
    }
}

// The computer goes off once every file has been dealt with, failed ones too,
// and never after a stop; no box is shown before it that could hold it up.
TEST_F(BatchRunTest, ShutdownAfterEveryFileWasDealtWith) {
    const std::string good = MakeRealAudio144(dir, "s.ra", 0.5);
    const std::string silent = MakeRealVideo(dir, "video-only.rm", 0.5, "rv10", RealAudio::None);
    const std::string gone = MakeRealAudio144(dir, "gone.ra", 0.5);
    struct TCase {
        const char* name;
        bool ticked;
        std::vector<std::string> files;
        int powerOffs;
    } cases[] = {
        {"not ticked", false, {good}, 0},
        {"all converted", true, {good}, 1},
        {"one failed while converting", true, {silent, good}, 1},
        {"one refused at the start", true, {good, gone}, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(out)) fs::remove(e.path());
        form->BtnClear->click();
        AddThroughDialog(c.files);
        ASSERT_EQ(Rows(), static_cast<int>(c.files.size()));
        if (c.files.back() == gone) fs::remove(gone);
        form->ChkShutdown->setChecked(c.ticked);
        shutdown.Calls = 0;
        dialogs.Summaries.clear();
        RunToEnd();
        EXPECT_EQ(shutdown.Calls, c.powerOffs);
        EXPECT_TRUE(dialogs.Messages.empty()) << dialogs.Messages[0].Text;
        // The summary comes after the shutdown was asked for, and holds nothing.
        ASSERT_EQ(dialogs.Summaries.size(), 1u);
        EXPECT_EQ(dialogs.Summaries[0].PowerOffsBefore, c.powerOffs);
        if (c.files.back() == gone) MakeRealAudio144(dir, "gone.ra", 0.5);
    }
}

TEST_F(BatchRunTest, ClosingDuringARunStopsTheEngine) {
    form->Engine().SetProgressInterval(100);
    AddThroughDialog({MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440})});
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(0).find("% Completed") != std::string::npos; }));
    // The user is asked first; keeping on converting keeps the window and the run.
    dialogs.AskAnswers = {1};
    form->close();
    ASSERT_EQ(dialogs.Questions.size(), 1u);
    EXPECT_EQ(dialogs.Questions[0].Buttons, (std::vector<std::string>{"Stop and &close", "&Keep converting"}));
    EXPECT_TRUE(form->RunGoing());
    EXPECT_EQ(Caption(form->BtnStart), "Stop");
    // Stop and close (the recorder's answer from now on).
    Destroy();
    EXPECT_EQ(dialogs.Questions.size(), 2u);
    EXPECT_NE(SettingsText().find("OutputPath=" + out), std::string::npos);
    EXPECT_TRUE(dialogs.Summaries.empty());
}

TEST_F(BatchRunTest, ClosingWhenIdleOrByTheDesktopDoesNotAsk) {
    form->Engine().SetProgressInterval(100);
    AddThroughDialog({MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440})});
    form->CloseWithoutAsking();  // idle: no question either way
    EXPECT_TRUE(dialogs.Questions.empty());
    Destroy();
    ASSERT_TRUE(Create());
    AddThroughDialog({MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440})});
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(0).find("% Completed") != std::string::npos; }));
    form->CloseWithoutAsking();  // the session ends: no one to answer
    EXPECT_TRUE(dialogs.Questions.empty());
    EXPECT_FALSE(form->RunGoing());
}

TEST_F(BatchRunTest, AStoppedRunLeavesEveryExistingFileAsItWas) {
    form->Engine().SetProgressInterval(100);
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Replace));
    fs::create_directories(out);
    const std::vector<std::string> names = {"first", "long", "third"};
    for (const std::string& name : names) std::ofstream(out + name + ".mp3") << "old " << name;
    AddThroughDialog({MakeRealAudio144(dir, "first.ra", 1.0), MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440}),
                      MakeRealAudio144(dir, "third.ra", 1.0)});
    ASSERT_EQ(Rows(), 3);
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(1).find("% Completed") != std::string::npos; }));
    form->BtnStart->click();
    EXPECT_EQ(Status(1), "Stopped");
    ExpectIdle();
    // Overwriting replaces a file only with a whole conversion.
    ExpectMp3(out + "first.mp3", 44100, 2, 1.0);
    EXPECT_EQ(ReadFileBytes(out + "long.mp3"), "old long");
    EXPECT_EQ(ReadFileBytes(out + "third.mp3"), "old third");
    // The stopped task's temporary file goes once its worker has let go of it.
    const auto left = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_TRUE(WaitUntil([&] { return left().size() == 3; }));
    EXPECT_EQ(left(), (std::vector<std::string>{"first.mp3", "long.mp3", "third.mp3"}));
}

// A cut file converts what it holds, and its row says so instead of passing
// for a whole one.
TEST_F(BatchRunTest, ACutFilesRowSaysHowMuchWasConverted) {
    const std::string whole = MakeRealAc3(dir, "whole.rm", 10.0);
    AddThroughDialog({whole, MakeCut(whole, 30.0, dir.File("cut.rm"))});
    ASSERT_EQ(Rows(), 2);
    RunToEnd();
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Completed (00:00:03 of 00:00:10)");
    const DecodedAudio cut = DecodeMp3(out + "cut.mp3");
    ASSERT_TRUE(cut.ok) << cut.error;
    EXPECT_NEAR(cut.Seconds(), 3.0, 0.3);
}
