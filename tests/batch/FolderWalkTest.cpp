// Folders as inputs: what a walk finds and in which order, the folders outputs
// mirror, the shares of a batch among jobs, and a run over a tree.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "batch/Converter.h"
#include "batch/FolderWalk.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/batch/RunRecords.h"
#include "tests/common/Fixtures.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

// Each file a walk finds, relative to root, with the folder its output mirrors.
std::vector<std::string> Walk(const std::string& folder, const std::string& base, const std::string& skip,
                              const std::string& root, const std::string& outputs = "") {
    std::vector<std::string> found;
    TFolderWalk walk(folder, base, skip, outputs);
    for (TFoundFile file; walk.Next(file);)
        found.push_back(fs::path(file.Path).lexically_relative(root).string() + " > " + file.Subfolder);
    return found;
}

}  // namespace

TEST(FolderWalkTest, FindsTheMediaFilesOfATreeInNameOrderOnceEach) {
    TempDir dir;
    const std::string in = dir.File("in");
    for (const char* name : {"b/2.ra", "a/1.rm", "a/.hidden.rm", ".secret/x.rm", "notes.txt", "Z.MP3", "m.wav",
                             "out/done.mp3", "c.ram", "a/deep/3.rmvb", "../elsewhere/e.rm"}) {
        fs::create_directories(fs::path(in + "/" + name).parent_path());
        std::ofstream(in + "/" + name) << "x";
    }
    fs::create_directory_symlink("..", in + "/a/up");           // a loop back to the top
    fs::create_directory_symlink("a", in + "/link-to-a");       // a folder walked already
    fs::create_directory_symlink("../elsewhere", in + "/ext");  // a folder not walked yet
    const std::vector<std::string> expected = {"in/Z.MP3 > ",         "in/a/1.rm > a/", "in/a/deep/3.rmvb > a/deep/",
                                               "in/b/2.ra > b/",      "in/ext/e.rm > ext/", "in/m.wav > "};
    EXPECT_EQ(Walk(in, "", in + "/out", dir.Path()), expected);
    EXPECT_EQ(Walk(in, "", "", dir.Path()).back(), "in/out/done.mp3 > out/");
    TFolderWalk missing(dir.File("nothing"), "", "");
    TFoundFile file;
    EXPECT_FALSE(missing.Next(file));
    EXPECT_EQ(missing.Problems().size(), 1u);
}

TEST(FolderWalkTest, OutputsMirrorThePathRelativeToTheBase) {
    EXPECT_EQ(MirroredFolder("/a/Lectures/2003/x.rm", "/a/"), "Lectures/2003/");
    EXPECT_EQ(MirroredFolder("/a/Lectures/../Talks/x.rm", "/a"), "Talks/");
    for (const char* outside : {"/ab/x.rm", "/x.rm", "/a/x.rm"}) EXPECT_EQ(MirroredFolder(outside, "/a"), "");
    // From the top or from inside it, under one base a file has one place.
    TempDir dir;
    for (const char* name : {"a/Lectures/2003/x.rm", "a/Lectures/2004/y.rm"}) {
        fs::create_directories(fs::path(dir.File(name)).parent_path());
        std::ofstream(dir.File(name)) << "x";
    }
    const std::vector<std::string> whole = Walk(dir.File("a/Lectures"), dir.File("a"), "", dir.Path());
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[0], "a/Lectures/2003/x.rm > Lectures/2003/");
    EXPECT_EQ(Walk(dir.File("a/Lectures/2003"), dir.File("a"), "", dir.Path()), std::vector<std::string>{whole[0]});
    EXPECT_EQ(Walk(dir.File("a/Lectures"), "", "", dir.Path())[0], "a/Lectures/2003/x.rm > 2003/");
}

TEST(FolderWalkTest, ShardsCoverEveryFileExactlyOnce) {
    EXPECT_EQ(PathHash("a"), 0xaf63dc4c8601ec8cull);  // FNV-1a 64's published value
    for (const int count : {1, 3, 4, 64})
        for (int n = 0; n < 500; ++n) {
            const std::string path = std::to_string(1990 + n / 25) + "/news " + std::to_string(n) + ".rm";
            int owners = 0;
            for (int k = 0; k < count; ++k) owners += InShard({k, count}, path);
            EXPECT_EQ(owners, 1) << path << " in " << count;
        }
}

namespace {

class FolderRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.LoadLibraries("")) << engine.LastErrorText();
        engine.SetLogLevel(llQuiet);
    }
    // A run over the names as the terminal makes it, two at a time, to its end;
    // look sees each update and says whether to stop.
    std::vector<TFileRecord> Stream(const std::vector<std::string>& given, const TListingRoots& roots,
                                    const TPlanChoice& choice = {},
                                    const std::function<bool(const TRunUpdate&)>& look = nullptr) {
        std::atomic<bool> news{false};
        TBatchRun run(engine, [&](TRunNews) { news = true; loop.Wake(); });
        std::string problem;
        EXPECT_TRUE(run.Start(std::make_unique<TListingSource>(given, roots, true), {choice, out, 2}, problem))
            << problem;
        return RecordsToEnd(run, loop, news, look);
    }
    // "input outcome output" a line, relative to the folders, under the skip rule.
    std::string Run(const std::vector<std::string>& given, const TListingRoots& roots) {
        TPlanChoice choice;
        choice.Existing = TExistingOutputs::Skip;
        std::string text;
        for (const TFileRecord& r : Stream(given, roots, choice))
            text += fs::path(r.Input).lexically_relative(dir.Path()).string() + " " + OutcomeName(r.Outcome) + " " +
                    (r.Output.empty() ? "-" : fs::path(r.Output).lexically_relative(out).string()) + "\n";
        return text;
    }
    // count names of one short file, per_folder to a folder under archive/.
    std::string Archive(int count, int per_folder, double seconds) {
        const std::string one = MakeRealAudio144(dir, "one.rm", seconds);
        for (int i = 0; i < count; ++i) {
            const std::string folder = dir.File("archive/" + std::to_string(i / per_folder));
            fs::create_directories(folder);
            fs::create_hard_link(one, folder + "/f" + std::to_string(i) + ".rm");
        }
        return one;
    }

    TempDir dir;
    const std::string out = dir.File("archive/out") + "/";
    TEventLoopWindowThread loop;
    TDAzaduVED engine{&loop};
};

}  // namespace

TEST_F(FolderRunTest, SameNamesInTwoFoldersKeepTheirPlacesAndARerunFindsThem) {
    for (const char* sub : {"archive/1998", "archive/1999", "nothing/.hidden"}) fs::create_directories(dir.File(sub));
    MakeRealAudio144(dir, "archive/1998/news.rm", 0.5, 440);
    MakeRealAudio144(dir, "archive/1999/news.rm", 0.5, 880);
    MakeRandom(dir, "archive/1999/broken.rm", 4096, 3, true);
    const TListingRoots roots{dir.File("archive"), out, {}};
    // The output folder lies inside the tree: what is written there is not walked again.
    EXPECT_EQ(Run({dir.File("archive")}, roots),
              "archive/1998/news.rm completed 1998/news.mp3\narchive/1999/broken.rm refused -\n"
              "archive/1999/news.rm completed 1999/news.mp3\n");
    // Part of the archive again, under the same base: its outputs are found, not
    // made twice, and the files whose outputs are there are not read again (this
    // one, unreadable now, keeps the size and time its output records).
    const std::string news = dir.File("archive/1999/news.rm");
    const auto size = fs::file_size(news);
    const auto time = fs::last_write_time(news);
    MakeRandom(dir, "archive/1999/news.rm", size, 4, true);
    fs::last_write_time(news, time);
    EXPECT_EQ(Run({dir.File("archive/1999")}, roots),
              "archive/1999/broken.rm refused -\narchive/1999/news.rm skipped 1999/news.mp3\n");
    EXPECT_EQ(Run({dir.File("archive/1998")}, {"", out, {}}), "archive/1998/news.rm completed news.mp3\n");
    // A folder with nothing to convert in it is told, not passed over in silence.
    MakeRealAudio144(dir, "nothing/.hidden/a.rm", 0.2);
    const TListing none = ListFiles(engine.Probe, {dir.File("nothing")}, {});
    EXPECT_TRUE(none.Files.empty());
    EXPECT_EQ(none.Refused.size(), 1u);
}

TEST_F(FolderRunTest, AnArchiveIsPlannedAFewFilesAheadAndCountedAsItGoes) {
    // 60 names of one file in nested folders, a link with a good and a missing
    // entry, and a folder with nothing in it, converted two at a time.
    const std::string one = Archive(60, 10, 0.2);
    fs::create_directories(dir.File("empty"));
    std::ofstream(dir.File("list.ram")) << "file://" << one << "\nfile://" << dir.File("gone.rm") << "\n";
    int most_tasks = 0, completed = 0, refused = 0, notes = 0;
    std::set<TFileId> planned;
    TRunUpdate last;
    const auto records = Stream({dir.File("archive"), dir.File("list.ram"), dir.File("empty")},
                                {dir.File("archive"), out, {}}, {}, [&](const TRunUpdate& update) {
                                    most_tasks = std::max(most_tasks, engine.TaskCount());
                                    for (const TFileRecord& r : update.Planned) planned.insert(r.Id);
                                    notes += static_cast<int>(update.Notes.size());
                                    last = update;
                                    return false;
                                });
    for (const TFileRecord& r : records) (r.Converted() ? completed : refused) += 1;
    EXPECT_EQ(completed, 61);
    EXPECT_EQ(refused, 2) << "the link's missing entry and the empty folder";
    EXPECT_EQ(planned.size(), 61u);
    EXPECT_EQ(notes, 1);
    EXPECT_LE(most_tasks, 2 * 2 + 2) << "waiting tasks are bounded, ended ones taken out";
    EXPECT_EQ(engine.TaskCount(), 0);
    EXPECT_EQ(last.Found, 61);
    EXPECT_TRUE(last.FoundAll);
    EXPECT_TRUE(fs::exists(out + "3/f30.mp3"));
}

TEST_F(FolderRunTest, AStoppedArchiveTellsWhatItNeverReached) {
    Archive(200, 200, 2.0);
    int64_t not_reached = -1;
    bool stopped = false;
    const auto records = Stream({dir.File("archive")}, {"", out, {}}, {}, [&](const TRunUpdate& update) {
        if (update.Over) not_reached = update.NotReached;
        // Once something has run, and while the count has found every file.
        const bool stop = !stopped && !update.Planned.empty() && update.FoundAll;
        stopped = stopped || stop;
        return stop;
    });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(static_cast<int64_t>(records.size()) + not_reached, 200);
    EXPECT_GT(not_reached, 100) << "files beyond those planned ahead are never read";
    EXPECT_EQ(engine.TaskCount(), 0);
}

TEST(FolderWalkTest, OutputsBesideTheirSourcesAreNotTakenAsInputs) {
    // A folder converted next to its sources before: news.mp3 and news(1).mp3
    // are its outputs; an MP3 with no source beside it is an input like any other.
    TempDir dir;
    const std::string in = dir.File("in");
    fs::create_directories(in);
    for (const char* name : {"news.rm", "news.mp3", "news(1).mp3", "news.old.mp3", "song.mp3", "talk.ra", "talk.mp4"})
        std::ofstream(in + "/" + name) << "x";
    const std::vector<std::string> beside = {"in/news.old.mp3 > ", "in/news.rm > ", "in/song.mp3 > ",
                                             "in/talk.mp4 > ", "in/talk.ra > "};
    EXPECT_EQ(Walk(in, "", "", dir.Path(), ".mp3"), beside);
    EXPECT_EQ(Walk(in, "", "", dir.Path()).size(), 7u) << "outputs elsewhere: every file is an input";
}
