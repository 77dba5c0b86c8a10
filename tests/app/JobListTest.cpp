// The job list: adding files (good, unsupported, random bytes), dropping files,
// remove, clear and moving rows.
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QTextDocument>
#include <QUrl>

#include <filesystem>

#include "app/QtDialogs.h"
#include "app/Translations.h"
#include "tests/app/FormFixture.h"

using namespace apptest;
using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

class JobListTest : public FormTest {
protected:
    void SetUp() override {
        WriteSettingsText("[Options]\nOutputPath=" + dir.File("out") + "\nExistingOutputs=number\n");
        fs::create_directories(dir.File("out"));
        ASSERT_TRUE(Create());
    }
    std::string Column(int column) const {
        std::string all;
        for (int r = 0; r < Rows(); ++r) all += (r ? "," : "") + Cell(r, column);
        return all;
    }
};

}  // namespace

TEST_F(JobListTest, AddingFilesMakesRowsWithDurationAndSize) {
    const std::string a = MakeRealAc3(dir, "first.rm", 3.0);
    const std::string b = MakeRealAudio144(dir, "a.b.ra", 2.0);
    AddThroughDialog({a, b});
    ASSERT_EQ(dialogs.FileTitles.size(), 1u);
    EXPECT_EQ(dialogs.FileTitles[0], "Choose Files to Convert");
    // The classic filter text stays readable in front of the toolkit's patterns.
    EXPECT_EQ(dialogs.FileFilters[0].rfind("Real Media Files(*.ra;*.ram;*.rm;*.rmj;*.rms;*.rmvb;*.rpm) (", 0), 0u);
    // Every name a pattern the toolkit matches: RealServer's .rms and link files' .rpm shown too.
    EXPECT_NE(dialogs.FileFilters[0].find("(*.ra *.ram *.rm *.rmj *.rms *.rmvb *.rpm);;"), std::string::npos);
    EXPECT_NE(dialogs.FileFilters[0].find(";;All Files(*.*) ("), std::string::npos);
    EXPECT_TRUE(dialogs.Messages.empty()) << dialogs.Messages[0].Text;

    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, colInputFilename), "first.rm");
    EXPECT_EQ(Cell(0, colDuration), "00:00:03");
    // In the locale's way of writing numbers (SizesHaveTheLocalesSeparators).
    EXPECT_EQ(QString::fromStdString(Cell(0, colSize)).remove(QLocale().groupSeparator()).toStdString(),
              std::to_string(fs::file_size(a)));
    EXPECT_EQ(Cell(0, colOutputFilename), "first.mp3");
    EXPECT_EQ(Cell(0, colStatus), "");
    EXPECT_EQ(Cell(0, colPath), a);
    EXPECT_EQ(Cell(1, colInputFilename), "a.b.ra");
    EXPECT_EQ(Cell(1, colOutputFilename), "a.b.mp3");
    EXPECT_EQ(Cell(1, colDuration), "00:00:02");
    // Listing made no task and left nothing in the output folder.
    EXPECT_EQ(form->Engine().TaskCount(), 0);
    EXPECT_TRUE(FilesIn(dir.File("out")).empty());
}

TEST_F(JobListTest, SizesHaveTheLocalesSeparators) {
    const std::string a = MakeRealAc3(dir, "song.rm", 3.0);
    const std::string digits = std::to_string(fs::file_size(a));  // five digits
    for (const auto& [locale, size] : {std::pair{"de_DE", "."}, {"en_US", ","}, {"zh_CN", ","}}) {
        const TAppTranslations language{QLocale(locale)};
        AddThroughDialog({a});
        EXPECT_EQ(Cell(Rows() - 1, colSize), digits.substr(0, 2) + size + digits.substr(2)) << locale;
    }
}

TEST_F(JobListTest, SameFileTwiceGivesTwoRowsWithTheNamesTheRunWillWrite) {
    const std::string a = MakeRealAc3(dir, "song.rm", 1.0);
    AddThroughDialog({a, a});
    ASSERT_EQ(Rows(), 2);
    for (int c : {colInputFilename, colDuration, colSize, colPath}) EXPECT_EQ(Cell(0, c), Cell(1, c));
    EXPECT_EQ(Cell(0, colOutputFilename), "song.mp3");
    EXPECT_EQ(Cell(1, colOutputFilename), "song(1).mp3");
}

TEST_F(JobListTest, ExistingOutputGetsANumberedName) {
    fs::create_directories(dir.File("out"));
    std::ofstream(dir.File("out/song.mp3")) << "old";
    std::ofstream(dir.File("out/song(1).mp3")) << "old";
    AddThroughDialog({MakeRealAc3(dir, "song.rm", 1.0)});
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, colOutputFilename), "song(2).mp3");
    EXPECT_EQ(ReadFileBytes(dir.File("out/song.mp3")), "old");
    EXPECT_FALSE(fs::exists(dir.File("out/song(2).mp3")));
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Replace));
    EXPECT_EQ(Cell(0, colOutputFilename), "song.mp3");
    AddThroughDialog({MakeRealAc3(dir, "song.rm", 1.0)});
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, colOutputFilename), "song(1).mp3") << "the first row has the name already";
    EXPECT_EQ(ReadFileBytes(dir.File("out/song.mp3")), "old");  // listing never writes over a file
}

TEST_F(JobListTest, ALongNameWithAnExistingOutputCanBeAdded) {
    const std::string base(246, 'b');
    fs::create_directories(dir.File("out"));
    std::ofstream(dir.File("out/" + base + ".mp3")) << "old";
    const std::string src = MakeRealAc3(dir, base + ".rm", 1.0);
    for (bool overwrite : {true, false}) {
        SCOPED_TRACE(overwrite ? "overwriting" : "keeping");
        const TExistingOutputs rule = overwrite ? TExistingOutputs::Replace : TExistingOutputs::Number;
        form->CboExisting->setCurrentIndex(static_cast<int>(rule));
        form->BtnClear->click();
        AddThroughDialog({src});
        ASSERT_EQ(Rows(), 1);
        EXPECT_EQ(Cell(0, colOutputFilename), base + (overwrite ? "" : "(1)") + ".mp3");
        EXPECT_TRUE(dialogs.Messages.empty()) << dialogs.Messages[0].Text;
        EXPECT_EQ(FilesIn(dir.File("out")), std::vector<std::string>{base + ".mp3"});
        EXPECT_EQ(ReadFileBytes(dir.File("out/" + base + ".mp3")), "old");
    }
}

TEST_F(JobListTest, UnsupportedFilesAreRefused) {
    const std::string random = MakeRandom(dir, "noise.rm", 8192, 11);
    const std::string realish = MakeRandom(dir, "fake.rm", 8192, 12, true);
    const std::string empty = MakeEmpty(dir, "empty.ra");
    const std::string missing = dir.File("missing.rm");
    const std::string good = MakeRealAudio144(dir, "good.ra", 1.0);
    AddThroughDialog({random, realish, good, empty, missing});
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, colPath), good);
    // One box for the whole addition, a line a file.
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    const TShownMessage& m = dialogs.Messages[0];
    EXPECT_EQ(m.Title, "Error");
    EXPECT_EQ(m.Icon, TMessageIcon::Error);
    EXPECT_EQ(m.Text, random + ": Cannot read the input: Unknown format\n" + realish +
                          ": Cannot read the input: Unknown format\n" + empty + ": Cannot read the input: Unknown format\n" +
                          missing + ": Cannot read the input: no such file");
    EXPECT_EQ(form->Engine().TaskCount(), 0);
}

TEST_F(JobListTest, TruncatedFilesNeverCrashTheList) {
    const std::string full = MakeRealAc3(dir, "full.rm", 2.0);
    std::vector<std::string> cuts;
    for (double pct : {1.0, 10.0, 50.0, 90.0})
        cuts.push_back(MakeCut(full, pct, dir.File("cut" + std::to_string(static_cast<int>(pct)) + ".rm")));
    AddThroughDialog(cuts);
    // Each file either has a row or was refused with a box.
    EXPECT_EQ(static_cast<size_t>(Rows()) + dialogs.Messages.size(), cuts.size());
    EXPECT_EQ(form->Engine().TaskCount(), 0);
}

TEST_F(JobListTest, CancelledDialogAddsNothing) {
    AddThroughDialog({});
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(JobListTest, DroppedFilesGoThroughTheSameCheck) {
    const std::string good = MakeRealAudio144(dir, "dropped.ra", 1.0);
    const std::string bad = MakeRandom(dir, "bad.rm", 1000, 5);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(good)), QUrl("https://example.invalid/x.rm"),
                  QUrl::fromLocalFile(QString::fromStdString(dir.Path())),
                  QUrl::fromLocalFile(QString::fromStdString(bad))});
    // Only local files and folders are taken from a drop, in order.
    const QStringList files = LocalFiles(&data);
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(files[0].toStdString(), good);
    EXPECT_EQ(files[1].toStdString(), dir.Path());
    EXPECT_EQ(files[2].toStdString(), bad);
    QMimeData text;
    text.setText("not files");
    EXPECT_TRUE(LocalFiles(&text).isEmpty());
    EXPECT_TRUE(LocalFiles(nullptr).isEmpty());

    emit form->Lvw->FilesDropped(files);
    WaitRead();
    // A file dropped alone is read at once; the folder's files when they are converted.
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(0, colPath), good);
    EXPECT_EQ(Cell(1, colPath), bad);
    EXPECT_EQ(Cell(2, colPath), good);
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text, bad + ": Cannot read the input: Unknown format");
    EXPECT_EQ(form->Engine().TaskCount(), 0);
}

TEST_F(JobListTest, AFolderAddsItsTreeWhoseUnreadableFilesTheSummaryListsOnce) {
    for (const char* sub : {"1998", "1999"}) fs::create_directories(dir.File("tree/" + std::string(sub)));
    MakeRealAudio144(dir, "tree/1998/news.ra", 0.5);
    MakeRealAudio144(dir, "tree/1999/news.ra", 0.5);
    for (const char* name : {"tree/1999/bad1.rm", "tree/1999/bad2.rm"}) MakeRandom(dir, name, 1000, 5);
    emit form->Lvw->FilesDropped({QString::fromStdString(dir.File("tree"))});
    WaitRead();
    ASSERT_EQ(Rows(), 4);
    RunToEnd();
    EXPECT_TRUE(dialogs.Messages.empty()) << dialogs.Messages[0].Text;
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    const std::string summary = dialogs.Summaries[0].Text;
    for (const char* name : {"bad1.rm", "bad2.rm"}) {
        const size_t at = summary.find(name);
        EXPECT_NE(at, std::string::npos) << summary;
        EXPECT_EQ(summary.find(name, at + 1), std::string::npos) << summary;
    }
    for (const char* output : {"1998/news.mp3", "1999/news.mp3"}) EXPECT_TRUE(fs::exists(OutputFolder() + output));
}

TEST_F(JobListTest, RemoveClearAndMove) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 1.0);
    const std::string b = MakeRealAudio144(dir, "b.ra", 1.0);
    const std::string c = MakeRealAudio144(dir, "c.ra", 1.0);
    AddThroughDialog({a, b, c});
    ASSERT_EQ(Rows(), 3);

    // Nothing selected: nothing moves or goes.
    SelectRow(-1);
    form->BtnMoveUp->click();
    form->BtnMoveDown->click();
    form->BtnRemove->click();
    EXPECT_EQ(Column(colInputFilename), "a.ra,b.ra,c.ra");

    // The ends do not move further.
    SelectRow(0);
    form->BtnMoveUp->click();
    EXPECT_EQ(Column(colInputFilename), "a.ra,b.ra,c.ra");
    SelectRow(2);
    form->BtnMoveDown->click();
    EXPECT_EQ(Column(colInputFilename), "a.ra,b.ra,c.ra");

    // A moved row keeps all its texts and stays selected.
    SelectRow(0);
    form->BtnMoveDown->click();
    EXPECT_EQ(Column(colInputFilename), "b.ra,a.ra,c.ra");
    EXPECT_EQ(Column(colPath), b + "," + a + "," + c);
    EXPECT_EQ(Cell(1, colOutputFilename), "a.mp3");
    form->BtnMoveDown->click();
    EXPECT_EQ(Column(colInputFilename), "b.ra,c.ra,a.ra");
    form->BtnMoveUp->click();
    form->BtnMoveUp->click();
    EXPECT_EQ(Column(colInputFilename), "a.ra,b.ra,c.ra");

    SelectRow(1);
    form->BtnRemove->click();
    EXPECT_EQ(Column(colInputFilename), "a.ra,c.ra");
    form->BtnClear->click();
    EXPECT_EQ(Rows(), 0);
    form->BtnClear->click();  // an empty list stays empty
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(JobListTest, ALinkFileAddsTheLocalFilesItNames) {
    fs::create_directories(dir.File("music"));
    const std::string a = MakeRealAc3(dir, "music/a.rm", 2.0);
    const std::string b = MakeRealAudio144(dir, "b.ra", 1.0);
    const std::string list = WriteFileBytes(dir.File("list.ram"), "# two songs and a stream\nmusic/a.rm\nfile://" + b +
                                                                 "\npnm://media.example.com/live.ra\n");
    const std::string after = MakeRealAudio144(dir, "after.ra", 1.0);
    AddThroughDialog({list, after});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Column(colPath), a + "," + b + "," + after);
    EXPECT_EQ(Cell(0, colDuration), "00:00:02");
    EXPECT_EQ(Cell(1, colOutputFilename), "b.mp3");
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text, list + ": The link names nothing that can be converted: link to "
                                               "pnm://media.example.com/live.ra, which cannot be fetched: "
                                               "only local files are converted");
    EXPECT_EQ(dialogs.Messages[0].Title, "Error");
    EXPECT_EQ(form->Engine().TaskCount(), 0);
    EXPECT_TRUE(FilesIn(dir.File("out")).empty());
}

TEST_F(JobListTest, LinksToNothingLocalSayWhyInOneBox) {
    const std::string Unusable = "The link names nothing that can be converted: ";
    struct Case {
        std::string name;
        std::string text;
        std::string message;
    } cases[] = {
        {"net.ram", "rtsp://media.example.com/a.rm\nhttp://media.example.com/b.rm\n",
         dir.File("net.ram") + ": " + Unusable + "link to rtsp://media.example.com/a.rm, which cannot be fetched: "
                               "only local files are converted\n" +
             dir.File("net.ram") + ": " + Unusable + "link to http://media.example.com/b.rm, which cannot be "
                                   "fetched: only local files are converted"},
        {"empty.rpm", "\n# nothing\n", dir.File("empty.rpm") + ": " + Unusable + "link file that names no file"},
        {"loop.ram", "loop.ram\n", dir.File("loop.ram") + ": " + Unusable + "link to " + dir.File("loop.ram") +
                                       ", which leads back to a link already followed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.Messages.clear();
        AddThroughDialog({WriteFileBytes(dir.File(c.name), c.text)});
        EXPECT_EQ(Rows(), 0);
        ASSERT_EQ(dialogs.Messages.size(), 1u);
        EXPECT_EQ(dialogs.Messages[0].Text, c.message);
    }
}

TEST_F(JobListTest, NamesAndMessagesShowAsWritten) {
    // A file name full of markup: the cells, the tooltips and the boxes show it
    // character for character.
    const std::string name = "<b>bold  &amp; <img src=x> <a href='y'>z.ra";
    const std::string path = MakeRealAudio144(dir, name, 1.0);
    const std::string bad = WriteFileBytes(dir.File("<i>x &lt;.rm"), "junk");
    AddThroughDialog({path, bad});
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, colInputFilename), name);
    const auto shown = [](const QString& tip) {
        QTextDocument doc;
        doc.setHtml(tip);
        return doc.toPlainText().toStdString();
    };
    EXPECT_EQ(shown(Tip(0, colInputFilename)), path);
    EXPECT_EQ(shown(Tip(0, colOutputFilename)), OutputFolder() + Cell(0, colOutputFilename));

    ASSERT_EQ(dialogs.Messages.size(), 1u);
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(form.get(), dialogs.Messages[0].Text, "Error", TMessageIcon::Information);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    bool found = false;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text().toStdString() != dialogs.Messages[0].Text) continue;
        found = true;
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(found) << "no label holds the message as written";
}
