// Folders as inputs: what a walk finds and in which order, the folders outputs
// mirror, the shares of a batch among jobs, and a run over a tree.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "batch/Converter.h"
#include "batch/FolderWalk.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/batch/RunRecords.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/Awkward.h"
#include "tests/common/Fixtures.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

// Each file a walk finds, relative to root, with the folder its output
// mirrors; each problem with its reason instead.
std::vector<std::string> Walk(const std::string& folder, const std::string& base, const std::string& skip,
                              const std::string& root, const std::string& outputs = "") {
    std::vector<std::string> found;
    TFolderWalk walk(folder, base, skip, outputs);
    for (TFoundFile file; walk.Next(file);)
        found.push_back(fs::path(file.Path).lexically_relative(root).string() +
                        (file.Problem == TReason::None ? " > " + file.Subfolder
                                                       : std::string(" ! ") + ReasonName(file.Problem)));
    return found;
}

// A socket file at path, as a program serving on it leaves one.
void MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
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
    const std::vector<std::string> expected = {"in/Z.MP3 > ",    "in/a/1.rm > a/",     "in/a/deep/3.rmvb > a/deep/",
                                               "in/b/2.ra > b/", "in/c.ram > ",        "in/ext/e.rm > ext/",
                                               "in/m.wav > "};
    EXPECT_EQ(Walk(in, "", in + "/out", dir.Path()), expected);
    EXPECT_EQ(Walk(in, "", "", dir.Path()).back(), "in/out/done.mp3 > out/");
    TFolderWalk missing(dir.File("nothing"), "", "");
    TFoundFile file;
    ASSERT_TRUE(missing.Next(file));
    EXPECT_EQ(file.Problem, TReason::Vanished);
    EXPECT_FALSE(missing.Next(file));
}

TEST(FolderWalkTest, EveryEntryThatMayBeAnInputIsAFileOrAProblemInItsPlace) {
    TempDir dir;
    const std::string in = dir.File("in");
    for (const char* folder : {"in/locked", "in/open"}) fs::create_directories(dir.File(folder));
    for (const char* name : {"in/locked/x.rm", "in/open/y.rm", "in/readme.txt", "in/secret.rm"})
        std::ofstream(dir.File(name)) << "x";
    fs::create_symlink("/dev/null", in + "/device.rm");
    fs::create_symlink("nowhere.rm", in + "/gone.rm");
    fs::create_symlink("nowhere", in + "/gone");
    fs::create_symlink("round.rm", in + "/round.rm");
    ::mkfifo((in + "/pipe.ra").c_str(), 0644);
    ::mkfifo((in + "/pipe").c_str(), 0644);
    MakeSocket(in + "/socket");
    ::chmod(dir.File("in/locked").c_str(), 0);
    ::chmod(dir.File("in/secret.rm").c_str(), 0);
    const std::string deep = MakeTooLongPath(dir.File("in/zdeep"), "z.rm");
    std::vector<std::string> found;
    {
        TWithoutOverride without;
        found = Walk(in, "", "", dir.Path());
    }
    ::chmod(dir.File("in/locked").c_str(), 0755);
    RemoveTree(dir.File("in/zdeep"));
    // Only a file by another name passes in silence; a file that cannot be
    // read is the run's to refuse (examining it needs no right to read it).
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back().rfind("in/zdeep/", 0), 0u);
    EXPECT_EQ(found.back().substr(found.back().size() - 16), " ! name-too-long");
    found.pop_back();
    EXPECT_EQ(found, (std::vector<std::string>{"in/device.rm ! not-a-file", "in/gone ! dangling-link",
                                               "in/gone.rm ! dangling-link", "in/locked ! access-denied",
                                               "in/open/y.rm > open/", "in/pipe ! not-a-file",
                                               "in/pipe.ra ! not-a-file", "in/round.rm ! dangling-link",
                                               "in/secret.rm > ", "in/socket ! not-a-file"}));
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
                                    const std::function<bool(const TRunUpdate&)>& look = nullptr, int places = 2,
                                    const std::string& folder = "") {
        std::atomic<bool> news{false};
        TBatchRun run(engine, [&](TRunNews) { news = true; loop.Wake(); });
        std::string problem;
        EXPECT_TRUE(run.Start(std::make_unique<TListingSource>(given, roots, true),
                              {choice, folder.empty() ? out : folder, places}, problem))
            << problem;
        return RecordsToEnd(run, loop, news, look);
    }
    // "input outcome reason" a line, inputs relative to the test's folder, in name order.
    std::string Outcomes(const std::vector<TFileRecord>& records) const {
        std::vector<std::string> lines;
        for (const TFileRecord& r : records)
            lines.push_back(fs::path(r.Input).lexically_relative(dir.Path()).string() + " " + OutcomeName(r.Outcome) +
                            (r.Reason == TReason::None ? "" : std::string(" ") + ReasonName(r.Reason)) + "\n");
        std::sort(lines.begin(), lines.end());
        std::string text;
        for (const std::string& line : lines) text += line;
        return text;
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
    // Twice the places wait; the files that ended since the last look are taken
    // out at the next, and on a busy machine a short file may end within a look.
    EXPECT_LE(most_tasks, 2 * 2 + 4) << "waiting tasks are bounded, ended ones taken out";
    EXPECT_EQ(engine.TaskCount(), 0);
    EXPECT_EQ(last.Found, 63) << "the files and the refusals, each to have a record";
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

TEST_F(FolderRunTest, EveryEntryOfAWalkEndsWithOneRecordAndLinkFilesAreReadForWhatTheyAre) {
    fs::create_directories(dir.File("archive/locked"));
    MakeRealAudio144(dir, "archive/good.rm", 0.3);
    MakeRealAudio144(dir, "archive/locked/x.rm", 0.3);
    MakeRealAudio144(dir, "outside.rm", 0.3);
    // RealPublisher wrote real RealMedia under a link's name.
    fs::rename(MakeRealAudio144(dir, "real.rm", 0.3), dir.File("archive/real.ram"));
    MakeRandom(dir, "archive/broken.rm", 4096, 3, true);
    WriteFileBytes(dir.File("archive/list.rpm"), "../outside.rm\nrtsp://media.example.com/live.rm\ngood.rm\n");
    WriteFileBytes(dir.File("archive/more.ram"), "../outside2.rm\n");
    MakeRealAudio144(dir, "outside2.rm", 0.3);
    fs::create_symlink("/dev/zero", dir.File("archive/device.rm"));
    fs::create_symlink("nowhere.rm", dir.File("archive/gone.rm"));
    ::mkfifo(dir.File("archive/pipe.rm").c_str(), 0644);
    ::chmod(dir.File("archive/locked").c_str(), 0);
    TRunUpdate last;
    std::vector<TFileRecord> records;
    {
        TWithoutOverride without;
        records = Stream({dir.File("archive")}, {"", out, {}}, {}, [&](const TRunUpdate& update) {
            last = update;
            return false;
        });
    }
    ::chmod(dir.File("archive/locked").c_str(), 0755);
    // The link's entry in the folder is the walk's own: converted once.
    EXPECT_EQ(Outcomes(records),
              "archive/../outside.rm completed\narchive/../outside2.rm completed\n"
              "archive/broken.rm refused input-unreadable\narchive/device.rm refused not-a-file\n"
              "archive/gone.rm refused dangling-link\narchive/good.rm completed\n"
              "archive/list.rpm refused link-entry-unusable\narchive/locked refused access-denied\n"
              "archive/pipe.rm refused not-a-file\narchive/real.ram completed\n");
    for (const TFileRecord& r : records)
        if (r.Reason == TReason::LinkEntryUnusable)
            EXPECT_EQ(r.Text, dir.File("archive/list.rpm") +
                                  ": link to rtsp://media.example.com/live.rm, which cannot be fetched: only local "
                                  "files are converted");
    EXPECT_EQ(last.Found, static_cast<int64_t>(records.size()));
    EXPECT_TRUE(DecodeMp3(out + "real.mp3").ok);
    TRunSummary summary;
    for (const TFileRecord& r : records) summary.Add(r);
    EXPECT_EQ(summary.Verdict(), TRunVerdict::SomeUnconvertible);
}

TEST_F(FolderRunTest, FilesThatGoOrCannotBeReadByTheirTurnEndWithTheirReasons) {
    Archive(6, 6, 0.5);
    fs::create_directories(dir.File("archive/1"));
    for (int i = 0; i < 3; ++i) MakeRealAudio144(dir, "archive/1/g" + std::to_string(i) + ".rm", 0.2);
    bool changed = false;
    std::vector<TFileRecord> records;
    {
        TWithoutOverride without;
        // Listed whole by then: at the first end, two files wait in the engine.
        records = Stream({dir.File("archive")}, {"", out, {}}, {}, [&](const TRunUpdate& update) {
            if (changed || update.Ended.empty()) return false;
            changed = true;
            ::chmod(dir.File("archive/1").c_str(), 0);
            fs::remove(dir.File("archive/0/f4.rm"));
            fs::remove(dir.File("archive/0/f5.rm"));
            fs::create_directory(dir.File("archive/0/f5.rm"));
            return false;
        }, 1);
    }
    ::chmod(dir.File("archive/1").c_str(), 0755);
    EXPECT_EQ(Outcomes(records),
              "archive/0/f0.rm completed\narchive/0/f1.rm completed\narchive/0/f2.rm completed\n"
              "archive/0/f3.rm completed\narchive/0/f4.rm refused vanished\narchive/0/f5.rm refused vanished\n"
              "archive/1/g0.rm refused access-denied\narchive/1/g1.rm refused access-denied\n"
              "archive/1/g2.rm refused access-denied\n");
}

TEST_F(FolderRunTest, AFullOutputDiskEndsTheRunAndTheRestAreNotStarted) {
    const std::string small = dir.File("small");
    TSmallDisk disk(small, 40 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "no small file system can be mounted here";
    Archive(10, 10, 1.0);
    int told = 0;
    const auto records = Stream({dir.File("archive")}, {"", small, {}}, {}, [&](const TRunUpdate& update) {
        told += update.DiskFull;
        return false;
    }, 1, small + "/");
    std::map<std::string, int> count;
    for (const TFileRecord& r : records) {
        ++count[std::string(OutcomeName(r.Outcome)) + " " + ReasonName(r.Reason)];
        if (r.Outcome == TFileOutcome::Failed) EXPECT_NEAR(r.ExpectedMs, 1000, 50) << "the length the input declares";
        if (r.Converted()) EXPECT_TRUE(DecodeMp3(r.Output).ok) << r.Output;
    }
    EXPECT_EQ(records.size(), 10u);
    EXPECT_EQ(told, 1);
    EXPECT_GE(count["completed "], 1);
    EXPECT_GE(count["failed disk-full"], 1);
    // One at a time, so that the first file fits whole. Only the files in the
    // engine when the disk filled (the place, twice as many waiting) may fail;
    // none is taken after the first failure.
    EXPECT_LE(count["failed disk-full"], 1 + 2 * 1) << "none taken after the first";
    EXPECT_GE(count["not-started disk-full"], 1);
    EXPECT_EQ(count["completed "] + count["failed disk-full"] + count["not-started disk-full"], 10);
    TRunSummary summary;
    for (const TFileRecord& r : records) summary.Add(r);
    EXPECT_EQ(summary.Verdict(), TRunVerdict::RunAgain);
}
