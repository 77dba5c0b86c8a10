// How many files run at once when the user did not say: the processors, the
// pictures' sizes and the memory the system has available.
#include <gtest/gtest.h>

#include "batch/Simultaneous.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/common/Fixtures.h"

namespace {

constexpr int64_t GiB = int64_t{1} << 30;

TListedFile Listed(int width, int height) {
    TListedFile file;
    file.Source.Streams.push_back({TProbedStream::Audio});
    if (width > 0) file.Source.Streams.push_back({TProbedStream::Video, width, height});
    return file;
}

}  // namespace

TEST(Simultaneous, PicturesAndMemoryBoundTheProcessors) {
    const struct {
        const char* what;
        std::vector<std::pair<int, int>> pictures;  // {0, 0}: a sound file
        int processors;
        int64_t available;  // bytes; -1 unknown
        int count;
    } cases[] = {
        {"sound files on plenty of memory", {{0, 0}, {0, 0}}, 8, 16 * GiB, 8},
        {"4K on 4 GiB: half holds one", {{3840, 2160}, {3840, 2160}}, 8, 4 * GiB, 1},
        {"4K on 8 GiB: half holds two", {{3840, 2160}, {3840, 2160}}, 8, 8 * GiB, 2},
        {"4K on 64 GiB: the processors bound it", {{3840, 2160}}, 4, 64 * GiB, 4},
        {"one 4K among small files sets the measure", {{176, 144}, {3840, 2160}, {0, 0}}, 8, 8 * GiB, 2},
        {"1080p is a quarter of 4K", {{1920, 1080}}, 8, 4 * GiB, 5},
        {"too little memory for even one still runs one", {{3840, 2160}}, 8, 512 << 20, 1},
        {"small pictures cost what sound costs", {{176, 144}}, 8, 1 * GiB, 8},
        {"sound on a tight machine", {{0, 0}}, 8, 256 << 20, 2},
        {"memory unknown: the processors", {{3840, 2160}}, 6, -1, 6},
        {"no processors known: one", {{0, 0}}, 0, 16 * GiB, 1},
        {"no files", {}, 3, 16 * GiB, 3},
    };
    for (const auto& c : cases) {
        std::vector<TListedFile> files;
        for (const auto& [w, h] : c.pictures) files.push_back(Listed(w, h));
        EXPECT_EQ(DefaultSimultaneous(files, c.processors, c.available), c.count) << c.what;
    }
}

TEST(Simultaneous, MemAvailableIsReadFromTheKernelsText) {
    const std::pair<const char*, int64_t> cases[] = {
        {"MemTotal:       16315412 kB\nMemFree:         1234567 kB\nMemAvailable:    8157706 kB\n",
         int64_t{8157706} * 1024},
        {"MemAvailable: 0 kB\n", 0},
        {"MemTotal:       16315412 kB\nMemFree:         1234567 kB\n", -1},  // an old kernel
        {"MemAvailable: lots\n", -1},
        {"MemAvailable: 100 MB\n", -1},
        {"MyMemAvailable: 100 kB\n", -1},
        {"", -1},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(MemAvailableBytes(text), bytes) << text;
    EXPECT_GT(AvailableMemoryBytes(), 0) << "this machine's /proc/meminfo";
}

// The listing carries each video's picture size, so a batch of large videos runs fewer at once.
TEST(Simultaneous, ListedVideosCarryTheirPictureSize) {
    using namespace ardentix::test;
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    TempDir dir;
    const std::string large = MakeFixture(dir, "large.mkv", "mkv-mpeg4", {"--size", "1920x1080", "--seconds", "0.2"});
    const std::string song = MakeWav(dir, "song.wav", 0.2);
    TAVProbe probe;
    const TListing listing = ListFiles(probe, {large, song});
    ASSERT_EQ(listing.Files.size(), 2u);
    EXPECT_EQ(DefaultSimultaneous(listing.Files, 8, 4 * GiB), 5);
    EXPECT_EQ(DefaultSimultaneous({listing.Files[1]}, 8, 4 * GiB), 8);
}
