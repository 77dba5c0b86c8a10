// The fuzz targets hand their inputs to the probe as memory files opened by
// name: such a file must read exactly as the same bytes on disk do.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/common/Fixtures.h"
#include "tests/common/MemoryFile.h"

using namespace ardentix::test;

namespace {

struct TSeen {
    bool opened = false;
    int32_t streams = -1, audio = -1, video = -1, first_audio = -1;
    int64_t duration = -1, size = -1;
    std::string title, error;
};

TSeen Probe(const std::string& path, const std::string& name_in_error) {
    TAVProbe probe;
    TSeen seen;
    seen.opened = probe.Open(path);
    if (!seen.opened) {
        // The reason names the file it was given; compare the rest.
        seen.error = probe.LastError().substr(std::min(probe.LastError().size(), name_in_error.size()));
        return seen;
    }
    TAVFileInfo info;
    probe.GetFileInfo(info);
    seen.streams = probe.StreamCount();
    seen.audio = probe.AudioStreamCount();
    seen.video = probe.VideoStreamCount();
    seen.first_audio = probe.FirstAudioStream();
    seen.duration = info.Duration;
    seen.size = probe.GetFileSize();
    seen.title = info.title;
    return seen;
}

}  // namespace

TEST(ProbeMemoryFile, ReadsAsTheSameBytesOnDisk) {
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
    TempDir dir;
    const std::function<std::string()> files[] = {
        [&] { return MakeRealAudio144(dir, "a.rm", 1.0); },
        [&] { return MakeRealVideo(dir, "v.rmvb", 0.5, "rv20", RealAudio::Ac3); },
        [&] { return MakeWav(dir, "t.wav", 0.2, 8000, 1); },
        [&] { return MakeCut(MakeRealAc3(dir, "c.rm", 1.0), 30, dir.File("cut.rm")); },
        [&] { return MakeRandom(dir, "n.rm", 3000, 7, true); },
        [&] { return MakeEmpty(dir, "e.rm"); },
    };
    MemoryFile memory("probe-test");
    for (const auto& make : files) {
        const std::string path = make();
        SCOPED_TRACE(path);
        const TSeen on_disk = Probe(path, path);
        const TSeen in_memory = Probe(memory.Hold(ReadFileBytes(path)), memory.Path());
        EXPECT_EQ(in_memory.opened, on_disk.opened);
        EXPECT_EQ(in_memory.error, on_disk.error);
        EXPECT_EQ(in_memory.streams, on_disk.streams);
        EXPECT_EQ(in_memory.audio, on_disk.audio);
        EXPECT_EQ(in_memory.video, on_disk.video);
        EXPECT_EQ(in_memory.first_audio, on_disk.first_audio);
        EXPECT_EQ(in_memory.duration, on_disk.duration);
        EXPECT_EQ(in_memory.size, on_disk.size);
        EXPECT_EQ(in_memory.title, on_disk.title);
        if (on_disk.opened) EXPECT_EQ(in_memory.size, static_cast<int64_t>(ReadFileBytes(path).size()));
    }
}
