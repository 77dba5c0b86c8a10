#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/common/Fixtures.h"
#include "tests/common/LocalNames.h"

using namespace ardentix::test;

namespace {

class ProbeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError(); }
    TempDir dir;
    TAVProbe probe;

    void ExpectClosed() {
        EXPECT_EQ(probe.FormatContext(), nullptr);
        EXPECT_EQ(probe.StreamCount(), -1);
        EXPECT_EQ(probe.ProgramCount(), -1);
        EXPECT_EQ(probe.AudioStreamCount(), -1);
        EXPECT_EQ(probe.VideoStreamCount(), -1);
        EXPECT_EQ(probe.SubtitleStreamCount(), -1);
        EXPECT_EQ(probe.FirstAudioStream(), -1);
        EXPECT_EQ(probe.FirstVideoStream(), -1);
        EXPECT_EQ(probe.FirstSubtitleStream(), -1);
        EXPECT_TRUE(probe.FormatName().empty());
    }
};

}  // namespace

TEST_F(ProbeTest, RealAudioFileReportsItsStreamsAndLength) {
    const std::string file = MakeRealAudio144(dir, "tone.ra", 3.0);
    ASSERT_TRUE(probe.Open(file)) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.FirstAudioStream(), 0);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);

    TAVFileInfo info;
    probe.GetFileInfo(info);
    EXPECT_NEAR(info.Duration / 1e6, 3.0, 0.1);
    EXPECT_GE(info.StartTime, 0);
    EXPECT_EQ(probe.GetFileSize(), static_cast<int64_t>(ReadFileBytes(file).size()));
    probe.Close();
    ExpectClosed();
}

TEST_F(ProbeTest, VideoFileCountsBothStreams) {
    for (const char* codec : {"rv10", "rv20"}) {
        const std::string file = MakeRealVideo(dir, std::string(codec) + ".rmvb", 2.0, codec, RealAudio::Ac3);
        ASSERT_TRUE(probe.Open(file)) << probe.LastError();
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.AudioStreamCount(), 1);
        EXPECT_EQ(probe.VideoStreamCount(), 1);
        EXPECT_NE(probe.FirstAudioStream(), probe.FirstVideoStream());
        EXPECT_GE(probe.FirstAudioStream(), 0);
        EXPECT_GE(probe.FirstVideoStream(), 0);
        TAVFileInfo info;
        probe.GetFileInfo(info);
        EXPECT_NEAR(info.Duration / 1e6, 2.0, 0.2);
    }
}

TEST_F(ProbeTest, ForcedFormat) {
    const std::string wav = MakeWav(dir, "a.wav", 1.0);
    EXPECT_TRUE(probe.Open(wav, "wav")) << probe.LastError();
    EXPECT_EQ(probe.FormatName(), "wav");
    EXPECT_FALSE(probe.Open(wav, "no-such-format"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: no-such-format");
    ExpectClosed();
    // A format that does not fit the data.
    EXPECT_FALSE(probe.Open(wav, "rm"));
    ExpectClosed();
}

TEST_F(ProbeTest, MissingFile) {
    const std::string file = dir.File("nothing-here.rm");
    EXPECT_FALSE(probe.Open(file));
    EXPECT_EQ(probe.LastError(), file + ": no such file or directory");
    ExpectClosed();
}

TEST_F(ProbeTest, BrokenFilesFailCleanlyOrReportTheirHeader) {
    const std::string good = MakeRealAc3(dir, "good.rm", 2.0, 48000, 2);
    std::vector<std::string> files = {
        MakeEmpty(dir, "empty.rm"),
        MakeRandom(dir, "noise.rm", 8192, 7, false),
        MakeRandom(dir, "magic.rmvb", 8192, 9, true),
        MakeCut(good, 10, dir.File("cut10.rm")),
        MakeCut(good, 50, dir.File("cut50.rm")),
        MakeCut(good, 90, dir.File("cut90.rm")),
    };
    if (SamplesPresent())
        for (const char* sample : {"header-only.rm", "header-only.ra", "link.ram"}) files.push_back(SamplePath(sample));
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        if (probe.Open(file)) {
            EXPECT_GE(probe.StreamCount(), 0);
            TAVFileInfo info;
            probe.GetFileInfo(info);
            EXPECT_GE(probe.GetFileSize(), 0);
            probe.Close();
        } else {
            EXPECT_EQ(probe.LastError().rfind(file + ": ", 0), 0u) << probe.LastError();
            ExpectClosed();
        }
    }
}

TEST_F(ProbeTest, HeaderOnlySampleIsRefused) {
    // Its headers are complete but the data chunk is missing: the reader refuses it.
    if (!SamplesPresent()) GTEST_SKIP() << SamplesMissingText();
    const std::string file = SamplePath("header-only.rm");
    EXPECT_FALSE(probe.Open(file));
    EXPECT_EQ(probe.LastError(), file + ": Unknown format");
    ExpectClosed();
}

TEST_F(ProbeTest, NamesThatLookLikeAddressesAreLocalFiles) {
    LoopbackListener listener;
    ScopedWorkingDir here(dir.Path());
    const std::string host = listener.HostPort();
    // Each name holds a file of its own length, so the length tells which file was read.
    const std::string names[] = {"plain.rm", "http://" + host + "/a.rm", "http:" + host, "tcp://" + host,
                                 "rtsp://" + host + "/b.rm", "file:plain.rm", "concat:plain.rm|plain.rm"};
    double seconds = 0.5;
    for (const std::string& name : names) {
        MoveToName(MakeRealAudio144(dir, "made.ra", seconds += 0.5), name);
        SCOPED_TRACE(name);
        ASSERT_TRUE(probe.Open(name)) << probe.LastError();
        TAVFileInfo info;
        probe.GetFileInfo(info);
        EXPECT_NEAR(info.Duration / 1e6, seconds, 0.1);
        EXPECT_EQ(probe.GetFileSize(), static_cast<int64_t>(std::filesystem::file_size(name)));
        probe.Close();
    }
    const std::string missing = "http://" + host + "/missing.rm";
    EXPECT_FALSE(probe.Open(missing));
    EXPECT_EQ(probe.LastError(), missing + ": no such file or directory");
    EXPECT_EQ(listener.Connections(), 0);
}

// What the output plan reads: the first audio stream's shape and the tags in full.
TEST_F(ProbeTest, AudioShapeAndTagsOfTheFile) {
    const std::string longTitle(600, 't');
    struct {
        std::string file;
        int rate, channels;
        std::string title;  // "" none
    } const cases[] = {
        {MakeWav(dir, "speech.wav", 0.5, 16000, 1), 16000, 1, ""},
        {MakeFixture(dir, "six.wav", "wav", {"--seconds", "0.5", "--rate", "48000", "--channels", "6"}), 48000, 6, ""},
        {MakeFixture(dir, "t.rm", "rm-ac3", {"--seconds", "0.5", "--title", longTitle}), 44100, 2, longTitle},
        {MakeRealVideo(dir, "silent.rm", 0.5, "rv10", RealAudio::None), -1, -1, "Ardentix test signal"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(probe.Open(c.file)) << probe.LastError();
        EXPECT_EQ(probe.AudioSampleRate(), c.rate) << c.file;
        EXPECT_EQ(probe.AudioChannels(), c.channels) << c.file;
        std::string title;
        for (const auto& [key, value] : probe.Tags())
            if (key == "title") title = value;
        EXPECT_EQ(title, c.title) << c.file << ": kept whole, past the 511 bytes of the info record";
        probe.Close();
    }
    EXPECT_EQ(probe.AudioSampleRate(), -1);
    EXPECT_EQ(probe.AudioChannels(), -1);
    EXPECT_TRUE(probe.Tags().empty());
}

TEST_F(ProbeTest, NoFileGivesMinusOnes) {
    TAVFileInfo info;
    std::memset(&info, 0x55, sizeof info);
    probe.GetFileInfo(info);
    EXPECT_EQ(info.StartTime, -1);
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.BitRate, -1);
    EXPECT_EQ(info.year, -1);
    EXPECT_EQ(info.track, -1);
    EXPECT_EQ(info.title[0], '\0');
    EXPECT_EQ(info.genre[0], '\0');
    EXPECT_EQ(probe.GetFileSize(), -1);
    probe.Close();
    probe.Close();
    ExpectClosed();
}

TEST_F(ProbeTest, AttachDoesNotCloseWhatItDoesNotOwn) {
    const std::string file = MakeRealAudio144(dir, "a.rm", 1.0);
    AVFormatContext* ctx = nullptr;
    ASSERT_EQ(avformat.avformat_open_input(&ctx, file.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat.avformat_find_stream_info(ctx, nullptr), 0);
    {
        TAVProbe attached;
        attached.Attach(ctx);
        EXPECT_FALSE(attached.OwnsContext());
        EXPECT_EQ(attached.AudioStreamCount(), 1);
        attached.Close();
        attached.Attach(ctx);
    }  // destroyed while attached
    // Still open and readable.
    AVPacket* pkt = avcodec.av_packet_alloc();
    EXPECT_GE(avformat.av_read_frame(ctx, pkt), 0);
    avcodec.av_packet_free(&pkt);
    avformat.avformat_close_input(&ctx);
}

TEST(ProbeWithoutLibraries, RaisesNamingTheFirstMissingLibrary) {
    FFmpegLoader().UnloadLibs(DefaultLibs);
    TAVProbe probe;
    try {
        probe.Open("x.rm");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "LibAVCodec not loaded.");
    }
    ASSERT_TRUE(FFmpegLoader().LoadLib(TFFmpegLib::avcodec));
    EXPECT_THROW(probe.Attach(nullptr), Exception);
    try {
        probe.Attach(nullptr);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "LibAVFormat not loaded.");
    }
    ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs));
}
