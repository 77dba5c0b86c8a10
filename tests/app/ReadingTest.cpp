// Files added are listed at once and read on the reader's threads: the rows
// while they wait, what can be done with them meanwhile, and the one box for
// what could not be read.
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "tests/app/FormFixture.h"
#include "tests/common/AudioCheck.h"

using namespace apptest;
using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

class ReadingTest : public RunFormTest {
protected:
    void SetUp() override {
        RunFormTest::SetUp();
        // Reading waits until the test lets it go.
        form->ReadFile = [this](TCustomAVProbe& probe, TListedFile& file) {
            std::unique_lock<std::mutex> lock(gate);
            opened.wait(lock, [&] { return open; });
            lock.unlock();
            ReadListedFile(probe, file);
        };
    }
    void TearDown() override { Open(); }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(gate);
            open = true;
        }
        opened.notify_all();
    }
    std::string Column(int column) const {
        std::string all;
        for (int r = 0; r < Rows(); ++r) all += (r ? "," : "") + Cell(r, column);
        return all;
    }
    std::string Count() const { return Caption(form->LblCount); }

    std::mutex gate;
    std::condition_variable opened;
    bool open = false;
};

}  // namespace

TEST_F(ReadingTest, RowsWaitToBeReadThenFillInAndTheUnreadableAreToldOnce) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 1.0);
    const std::string bad1 = MakeRandom(dir, "bad1.rm", 2000, 3);
    const std::string b = MakeRealAc3(dir, "b.rm", 2.0);
    const std::string bad2 = MakeRandom(dir, "bad2.rm", 2000, 4);
    form->AddFiles({a, bad1, b, bad2});
    EXPECT_EQ(Rows(), 0) << "nothing is read on the window's thread";
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 4; }));
    EXPECT_EQ(Column(colPath), a + "," + bad1 + "," + b + "," + bad2);
    EXPECT_EQ(Column(colStatus), "Waiting to be read,Waiting to be read,Waiting to be read,Waiting to be read");
    EXPECT_EQ(Column(colDuration), ",,,");
    EXPECT_EQ(Count(), "4 files");
    // A row removed while its file is being read stays removed.
    SelectRow(3);
    form->BtnRemove->click();
    EXPECT_EQ(Count(), "3 files");
    EXPECT_TRUE(form->ReadingFiles());
    EXPECT_TRUE(dialogs.Messages.empty());

    Open();
    WaitRead();
    EXPECT_EQ(Column(colPath), a + "," + b);
    EXPECT_EQ(Column(colDuration), "00:00:01,00:00:02");
    EXPECT_EQ(Column(colStatus), ",");
    EXPECT_EQ(Column(colOutputFilename), "a.mp3,b.mp3");
    EXPECT_EQ(Count(), "2 files");
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text, bad1 + ": Cannot read the input: Unknown format");
    EXPECT_EQ(form->ListingRefusals().size(), 1u);
}

// Many names keep their order, a folder among them stays unread for its run,
// and clearing the list while they are read gives up the whole addition.
TEST_F(ReadingTest, ManyNamesKeepTheirOrderAndClearingGivesThemUp) {
    const std::string song = MakeRealAudio144(dir, "song.ra", 0.3);
    fs::create_directories(dir.File("tree"));
    MakeRealAudio144(dir, "tree/in tree.ra", 0.3);
    std::vector<std::string> names;
    for (int i = 0; i < 150; ++i) {
        names.push_back(dir.File("n" + std::to_string(i) + ".ra"));
        fs::create_hard_link(song, names.back());
        if (i == 100) names.push_back(dir.File("tree"));
    }
    form->AddFiles(names);
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 151; }));
    EXPECT_EQ(Cell(100, colPath), names[100]);
    EXPECT_EQ(Cell(101, colPath), dir.File("tree/in tree.ra"));
    EXPECT_EQ(Cell(101, colStatus), "") << "a folder's file is read by its run";
    EXPECT_EQ(Cell(150, colPath), names[150]);
    EXPECT_EQ(Count(), "151 files");

    form->BtnClear->click();
    EXPECT_FALSE(form->ReadingFiles());
    Open();
    form->AddFiles({song});
    WaitRead();
    EXPECT_EQ(Column(colPath), song) << "nothing of the cleared addition comes back";
    EXPECT_EQ(Count(), "1 file");
    EXPECT_TRUE(dialogs.Messages.empty());
}

// Convert before the files are even listed: the run starts once they are,
// reads those not read yet itself, and converts every file once.
TEST_F(ReadingTest, ConvertWhileReadingConvertsEveryFile) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 0.5);
    const std::string b = MakeRealAc3(dir, "b.rm", 0.5);
    form->AddFiles({a, b});
    form->BtnStart->click();
    EXPECT_TRUE(dialogs.Messages.empty()) << "the list is not empty, only not listed yet";
    ASSERT_TRUE(WaitUntil([&] { return form->RunGoing(); }));
    Open();
    ASSERT_TRUE(WaitUntil([&] { return !form->RunGoing() && !form->ReadingFiles(); }));
    EXPECT_EQ(Column(colStatus), "Completed,Completed");
    EXPECT_EQ(form->Summary().Converted(), 2);
    for (const char* name : {"a.mp3", "b.mp3"}) EXPECT_TRUE(DecodeMp3(out + name).ok) << name;
    EXPECT_FALSE(fs::exists(out + "a(1).mp3"));
    EXPECT_TRUE(dialogs.Messages.empty());
}

// A choice changed while an addition is being read decides the names; the
// names planned for the addition before do not come back over them.
TEST_F(ReadingTest, TheNamesFollowTheLatestChoice) {
    std::ofstream(out + "a.mp3") << "old";
    // As many files as the reader has threads at most: every thread waits
    // with a file, so the addition's planning waits behind them.
    std::vector<std::string> files = {MakeRealAudio144(dir, "a.ra", 0.3)};
    for (const char* name : {"b.ra", "c.ra", "d.ra"}) fs::create_hard_link(files[0], files.emplace_back(dir.File(name)));
    form->AddFiles(files);
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 4; }));
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Replace));
    EXPECT_EQ(Cell(0, colOutputFilename), "a.mp3");
    Open();
    WaitRead();
    EXPECT_EQ(Cell(0, colOutputFilename), "a.mp3");
    form->CboExisting->setCurrentIndex(static_cast<int>(TExistingOutputs::Number));
    EXPECT_EQ(Cell(0, colOutputFilename), "a(1).mp3");
}

// Closing the window while its files are read leaves nothing running.
TEST_F(ReadingTest, ClosingWhileReadingEnds) {
    Open();
    const std::string song = MakeRealAudio144(dir, "song.ra", 0.3);
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(dir.File("n" + std::to_string(i) + ".ra"));
        fs::create_hard_link(song, names.back());
    }
    form->AddFiles(names);
    ASSERT_TRUE(WaitUntil([&] { return Rows() > 0; }));
    Destroy();
    EXPECT_TRUE(dialogs.Messages.empty());
}

// An output folder that cannot be made holds no file back from the list; it
// is told once, when Convert is pressed.
TEST_F(FormTest, AnUnusableOutputFolderIsToldOnceAtConvert) {
    WriteFileBytes(dir.File("blocker"), "a file where a folder would be");
    WriteSettingsText("[Options]\nOutputPath=" + dir.File("blocker/out") + "/\n");
    ASSERT_TRUE(Create());
    AddThroughDialog({MakeRealAudio144(dir, "a.ra", 0.3), MakeRealAudio144(dir, "b.ra", 0.3)});
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(dialogs.Messages.empty());
    form->BtnStart->click();
    ASSERT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_EQ(dialogs.Messages[0].Text.rfind("Cannot write to the output folder", 0), 0u);
    EXPECT_EQ(Rows(), 2);
    EXPECT_FALSE(form->RunGoing());
}
