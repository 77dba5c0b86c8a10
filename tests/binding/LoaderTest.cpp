#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"

namespace fs = std::filesystem;

namespace {

const char* SystemLibDir() { return "/usr/lib/x86_64-linux-gnu/"; }

// A folder of links to the system's libraries, optionally without one of them.
struct LinkFolder {
    fs::path dir;
    explicit LinkFolder(std::initializer_list<TFFmpegLib> skip = {}) {
        char tmpl[] = "/tmp/ardentix-libs-XXXXXX";
        dir = ::mkdtemp(tmpl);
        for (int i = 0; i < FFmpegLibCount; ++i) {
            auto lib = static_cast<TFFmpegLib>(i);
            if (std::find(skip.begin(), skip.end(), lib) != skip.end()) continue;
            const std::string name = TFFmpegLoader::LibFileName(lib);
            fs::path target = fs::path(SystemLibDir()) / name;
            if (fs::exists(target)) fs::create_symlink(target, dir / name);
        }
    }
    ~LinkFolder() { fs::remove_all(dir); }
};

class LoaderTest : public ::testing::Test {
protected:
    TFFmpegLoader& loader = FFmpegLoader();
    void TearDown() override {
        loader.UnloadLibs(DefaultLibs);
        loader.UnloadLib(TFFmpegLib::avdevice);
        loader.SetLibraryPath("");
    }
    void ExpectNothingLoaded() {
        for (int i = 0; i < FFmpegLibCount; ++i)
            EXPECT_FALSE(loader.LibLoaded(static_cast<TFFmpegLib>(i))) << TFFmpegLoader::LibFileName(static_cast<TFFmpegLib>(i));
        EXPECT_EQ(avutil.av_malloc, nullptr);
        EXPECT_EQ(avcodec.avcodec_open2, nullptr);
    }
};

}  // namespace

TEST_F(LoaderTest, FileNamesFollowThePlatform) {
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::avcodec), "libavcodec.so.59");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::avdevice), "libavdevice.so.59");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::avfilter), "libavfilter.so.8");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::avformat), "libavformat.so.59");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::avutil), "libavutil.so.57");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::swscale), "libswscale.so.6");
    EXPECT_EQ(TFFmpegLoader::LibFileName(TFFmpegLib::swresample), "libswresample.so.4");
    EXPECT_FALSE(DefaultLibs.Contains(TFFmpegLib::avdevice));
    EXPECT_TRUE(DefaultLibs.Contains(TFFmpegLib::swresample));
}

TEST_F(LoaderTest, LoadsFromAFolderAndBindsEveryEntry) {
    LinkFolder folder;
    loader.SetLibraryPath(folder.dir.string());
    ASSERT_TRUE(loader.LoadLibs(DefaultLibs)) << loader.LastError();
    EXPECT_TRUE(loader.LibsLoaded(DefaultLibs));
    EXPECT_FALSE(loader.LibLoaded(TFFmpegLib::avdevice));
    // The tables work: a real call through each library.
    EXPECT_NE(avcodec.avcodec_find_encoder_by_name("libmp3lame"), nullptr);
    EXPECT_NE(avformat.av_guess_format("mp3", nullptr, nullptr), nullptr);
    void* p = avutil.av_malloc(16);
    ASSERT_NE(p, nullptr);
    avutil.av_free(p);
    char buf[8];
    myutil.snprintf(buf, sizeof buf, "%d", 42);
    EXPECT_STREQ(buf, "42");

    // Loading again finds everything in place.
    auto* before = avcodec.avcodec_open2;
    EXPECT_TRUE(loader.LoadLibs(DefaultLibs));
    EXPECT_EQ(avcodec.avcodec_open2, before);

    loader.UnloadLibs(DefaultLibs);
    ExpectNothingLoaded();
}

TEST_F(LoaderTest, EmptyPathUsesTheSystemSearch) {
    loader.SetLibraryPath("");
    ASSERT_TRUE(loader.LoadLibs(DefaultLibs)) << loader.LastError();
    EXPECT_TRUE(loader.LoadLib(TFFmpegLib::avdevice)) << loader.LastError();
    EXPECT_TRUE(loader.LibLoaded(TFFmpegLib::avdevice));
}

TEST_F(LoaderTest, ABrokenLibraryFileFailsTheWholeSet) {
    LinkFolder folder({TFFmpegLib::avutil});
    std::ofstream(folder.dir / "libavutil.so.57") << "not a library";
    loader.SetLibraryPath(folder.dir.string());
    EXPECT_FALSE(loader.LoadLibs(DefaultLibs));
    const std::string expected = "Load library " + (folder.dir / "libavutil.so.57").string() + " error: ";
    EXPECT_EQ(loader.LastError().rfind(expected, 0), 0u) << loader.LastError();
    EXPECT_GT(loader.LastError().size(), expected.size());
    ExpectNothingLoaded();
}

TEST_F(LoaderTest, AMissingFileInTheFolderFallsBackToTheSystem) {
    LinkFolder folder({TFFmpegLib::avutil});
    loader.SetLibraryPath(folder.dir.string() + "/");
    EXPECT_TRUE(loader.LoadLibs(DefaultLibs)) << loader.LastError();
}

TEST_F(LoaderTest, AMissingEntryPointNamesItAndUnloads) {
    // A stub library standing in for avcodec that exports nothing we need.
    LinkFolder folder({TFFmpegLib::avcodec});
    fs::copy_file(ARDENTIX_STUB_LIB, folder.dir / "libavcodec.so.59");
    loader.SetLibraryPath(folder.dir.string());
    EXPECT_FALSE(loader.LoadLibs(DefaultLibs));
    const std::string expected = "Load function av_bsf_alloc@libavcodec.so.59 error: ";
    EXPECT_EQ(loader.LastError().rfind(expected, 0), 0u) << loader.LastError();
    ExpectNothingLoaded();
}

TEST_F(LoaderTest, EmptySetIsAnAssertion) {
    EXPECT_THROW(loader.LoadLibs(TFFmpegLibs{}), EAssertionFailed);
    EXPECT_THROW(loader.LibsLoaded(TFFmpegLibs{}), EAssertionFailed);
    EXPECT_THROW(loader.UnloadLibs(TFFmpegLibs{}), EAssertionFailed);
}

TEST(ErrorText, MapsResultCodesByMeaning) {
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(ENOENT)), "a.rm: no such file or directory");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR_INVALIDDATA), "a.rm: Unknown format");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR_DEMUXER_NOT_FOUND), "a.rm: Unknown format");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(EINVAL)), "a.rm: Error while parsing header");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(ENOMEM)), "a.rm: memory allocation error occurred");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(EIO)),
              "a.rm: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR_EOF), "a.rm: Error while opening file");
    EXPECT_EQ(FFmpegErrorText("img", AVERROR(EDOM)).find("for img1.jpg, img2.jpg, ..., use 'img%d.jpg';"),
              std::string("img: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n  ").size());
}

// A failed write gives the system's reason, never a text about opening or a damaged input.
TEST(ErrorText, WriteFailuresGiveTheSystemsReason) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {AVERROR(ENOSPC), "out.mp3: No space left on device"},
        {AVERROR(EDQUOT), "out.mp3: Disk quota exceeded"},
        {AVERROR(EIO), "out.mp3: Input/output error"},
        {AVERROR(EFBIG), "out.mp3: File too large"},
        {AVERROR(ENOMEM), "out.mp3: Cannot allocate memory"},
        {AVERROR_EOF, "out.mp3: Error while opening file"},  // the libraries' own code keeps its text
    };
    for (const auto& c : cases) EXPECT_EQ(FFmpegWriteErrorText("out.mp3", c.code), c.text);
    // Reading too, a code the texts do not name is the system's reason.
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(ENOSPC)), "a.rm: No space left on device");
    EXPECT_EQ(FFmpegErrorText("a.rm", AVERROR(EACCES)), "a.rm: Permission denied");
}
