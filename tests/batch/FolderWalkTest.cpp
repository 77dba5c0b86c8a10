// Folders as inputs: what a walk finds and in which order, the folders outputs
// mirror, the parts of a batch shared out among jobs, and a run over a tree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "batch/Converter.h"
#include "batch/FolderWalk.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/common/Fixtures.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

// Each file a walk finds, relative to root, with the folder its output mirrors.
std::vector<std::string> Walk(const std::string& folder, const std::string& base, const std::string& skip,
                              const std::string& root) {
    std::vector<std::string> found;
    TFolderWalk walk(folder, base, skip);
    for (TFoundFile file; walk.Next(file);)
        found.push_back(fs::path(file.Path).lexically_relative(root).string() + " > " + file.Subfolder);
    return found;
}

}  // namespace

TEST(FolderWalkTest, FindsTheMediaFilesOfATreeInNameOrderOnceEach) {
    TempDir dir;
    const std::string in = dir.File("in");
    for (const char* name : {"b/2.ra", "a/1.rm", "a/.hidden.rm", ".secret/x.rm", "notes.txt", "Z.MP3", "m.wav",
                             "out/done.mp3", "c.ram", "a/deep/er/3.rmvb", "noext"})
        Touch(in + "/" + name);
    Touch(dir.File("elsewhere/e.rm"));
    fs::create_directory_symlink("..", in + "/a/up");             // a loop back to the top
    fs::create_directory_symlink("a", in + "/link-to-a");         // a folder walked already
    fs::create_directory_symlink("../elsewhere", in + "/ext");    // a folder not walked yet
    fs::create_symlink("m.wav", in + "/n-link.wav");              // a link to a file is that file
    fs::create_directory(in + "/empty");
    const std::vector<std::string> expected = {
        "in/Z.MP3 > ",       "in/a/1.rm > a/", "in/a/deep/er/3.rmvb > a/deep/er/", "in/b/2.ra > b/",
        "in/ext/e.rm > ext/", "in/m.wav > ",   "in/n-link.wav > "};
    EXPECT_EQ(Walk(in, "", in + "/out", dir.Path()), expected);
    // The output folder is left out only when it is the one being written.
    EXPECT_EQ(Walk(in, "", dir.File("elsewhere"), dir.Path()).size(), expected.size());
    EXPECT_EQ(Walk(in, "", "", dir.Path()).back(), "in/out/done.mp3 > out/");
    TFolderWalk missing(dir.File("nothing"), "", "");
    TFoundFile file;
    EXPECT_FALSE(missing.Next(file));
    ASSERT_EQ(missing.Problems().size(), 1u);
}

TEST(FolderWalkTest, OutputsMirrorThePathRelativeToTheBase) {
    const struct {
        const char* path;
        const char* base;
        const char* mirrored;
    } cases[] = {
        {"/a/Lectures/2003/x.rm", "/a", "Lectures/2003/"},
        {"/a/Lectures/2003/x.rm", "/a/", "Lectures/2003/"},
        {"/a/Lectures/2003/x.rm", "/a/Lectures/2003", ""},
        {"/a/Lectures/../Talks/x.rm", "/a", "Talks/"},
        {"/b/x.rm", "/a", ""},  // outside the base: flat
        {"/ab/x.rm", "/a", ""},
        {"/a/x.rm", "", ""},  // no base: flat
    };
    for (const auto& c : cases) EXPECT_EQ(MirroredFolder(c.path, c.base), c.mirrored) << c.path << " " << c.base;
    EXPECT_EQ(MirroredFolder("x/y.rm", "."), "x/");
    // A walk from the top or from inside it gives a file the same place under one base.
    TempDir dir;
    Touch(dir.File("a/Lectures/2003/x.rm"));
    Touch(dir.File("a/Lectures/2004/y.rm"));
    const std::vector<std::string> whole = Walk(dir.File("a/Lectures"), dir.File("a"), "", dir.Path());
    EXPECT_EQ(whole, (std::vector<std::string>{"a/Lectures/2003/x.rm > Lectures/2003/",
                                               "a/Lectures/2004/y.rm > Lectures/2004/"}));
    EXPECT_EQ(Walk(dir.File("a/Lectures/2003"), dir.File("a"), "", dir.Path()).front(), whole.front());
    EXPECT_EQ(Walk(dir.File("a/Lectures"), "", "", dir.Path()).front(), "a/Lectures/2003/x.rm > 2003/");
}

TEST(FolderWalkTest, ShardsCoverEveryFileExactlyOnce) {
    // FNV-1a's published values.
    EXPECT_EQ(PathHash(""), 14695981039346656037ull);
    EXPECT_EQ(PathHash("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(PathHash("foobar"), 0x85944171f73967e8ull);
    std::vector<std::string> paths;
    for (int year = 1990; year < 2010; ++year)
        for (int n = 0; n < 25; ++n) paths.push_back(std::to_string(year) + "/news " + std::to_string(n) + ".rm");
    for (const int count : {1, 2, 3, 4, 7, 64}) {
        std::vector<int> parts(static_cast<size_t>(count), 0);
        for (const std::string& path : paths) {
            int owners = 0;
            for (int k = 0; k < count; ++k)
                if (InShard({k, count}, path)) ++owners, ++parts[static_cast<size_t>(k)];
            EXPECT_EQ(owners, 1) << path << " in " << count;
        }
        if (count > 4) continue;
        for (const int part : parts) EXPECT_GT(part, static_cast<int>(paths.size()) / count / 2) << count;
    }
    EXPECT_TRUE(InShard({}, "anything"));
}

TEST(FolderWalkTest, IsMediaNameByExtensionOnly) {
    for (const char* name : {"a.rm", "b.RMVB", "c.d.ra", "/x.y/z.mp4", "e.Flac"}) EXPECT_TRUE(IsMediaName(name)) << name;
    for (const char* name : {"a.ram", "rm", ".rm", "x.rm/y", "a.txt", "a.", "a.rmx"}) EXPECT_FALSE(IsMediaName(name)) << name;
}

namespace {

class FolderRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.LoadLibraries("")) << engine.LastErrorText();
        engine.SetLogLevel(llQuiet);
    }
    std::vector<TFileRecord> Run(const std::vector<std::string>& given, const TListingRoots& roots) {
        TPlanChoice choice;
        choice.Existing = TExistingOutputs::Skip;
        const TListing listing = ListFiles(engine.Probe, given, roots);
        for (const TListedFile& file : listing.Files) EXPECT_FALSE(file.Probed) << file.Path;
        std::atomic<bool> news{false};
        TBatchRun run(engine, [&](TRunNews) { news = true; loop.Wake(); });
        std::string problem;
        EXPECT_TRUE(run.Start(listing.Files, {choice, out, 2}, problem)) << problem;
        for (;;) {
            loop.RunUntil([&] { return news.exchange(false); }, std::chrono::milliseconds(250));
            if (run.Take().Over) return run.Records();
        }
    }
    std::string Outcomes(const std::vector<TFileRecord>& records) const {
        std::string text;
        for (const TFileRecord& r : records)
            text += fs::path(r.Input).lexically_relative(dir.Path()).string() + " " + OutcomeName(r.Outcome) + " " +
                    (r.Output.empty() ? "-" : fs::path(r.Output).lexically_relative(out).string()) + "\n";
        return text;
    }

    TempDir dir;
    const std::string out = dir.File("archive/out") + "/";
    TEventLoopWindowThread loop;
    TDAzaduVED engine{&loop};
};

}  // namespace

TEST_F(FolderRunTest, SameNamesInTwoFoldersKeepTheirPlacesAndARerunFindsThem) {
    fs::create_directories(dir.File("archive/1998"));
    fs::create_directories(dir.File("archive/1999"));
    MakeRealAudio144(dir, "archive/1998/news.rm", 0.5, 440);
    MakeRealAudio144(dir, "archive/1999/news.rm", 0.5, 880);
    MakeRandom(dir, "archive/1999/broken.rm", 4096, 3, true);
    const TListingRoots roots{dir.File("archive"), out, {}};
    // The output folder lies inside the tree: what is written there is not walked again.
    EXPECT_EQ(Outcomes(Run({dir.File("archive")}, roots)),
              "archive/1998/news.rm completed 1998/news.mp3\n"
              "archive/1999/broken.rm refused -\n"
              "archive/1999/news.rm completed 1999/news.mp3\n");
    EXPECT_GT(fs::file_size(out + "1998/news.mp3"), 0u);
    // Part of the archive again, under the same base: its outputs are found, not
    // made twice, and the files whose outputs are there are not read again.
    MakeRandom(dir, "archive/1999/news.rm", 4096, 4, true);
    EXPECT_EQ(Outcomes(Run({dir.File("archive/1999")}, roots)),
              "archive/1999/broken.rm refused -\n"
              "archive/1999/news.rm skipped 1999/news.mp3\n");
    // Without a base the folder given is its own.
    EXPECT_EQ(Outcomes(Run({dir.File("archive/1998")}, {"", out, {}})), "archive/1998/news.rm completed news.mp3\n");
    // A folder with nothing to convert in it is told, not passed over in silence.
    fs::create_directories(dir.File("nothing/.hidden"));
    MakeRealAudio144(dir, "nothing/.hidden/a.rm", 0.2);
    const TListing none = ListFiles(engine.Probe, {dir.File("nothing")}, {});
    EXPECT_TRUE(none.Files.empty());
    ASSERT_EQ(none.Refused.size(), 1u);
    EXPECT_EQ(none.Refused[0].Reason, TReason::InputUnreadable);
}
