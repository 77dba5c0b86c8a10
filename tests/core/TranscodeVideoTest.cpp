// Video conversions through the core, checked with mediainfo (container,
// codecs, picture size, frame rate) and by decoding the sound back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/common/VideoCheck.h"
#include "tests/core/TranscodeFixture.h"

namespace transcodetest {
namespace {

class TranscodeVideoTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (std::getenv("ARDX_LIBLOG")) avutil.av_log_set_level(AV_LOG_INFO);
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }

    // Opens src and dst with the given encoders; before_output sets further options.
    bool OpenVideo(const std::string& src, const std::string& dst, const std::string& vcodec,
                   const std::string& acodec, const std::function<void()>& before_output = {}) {
        if (!core.OpenInputFile(src)) {
            ADD_FAILURE() << "input: " << core.last_error;
            return false;
        }
        core.SetCodecName('v', vcodec);
        core.SetCodecName('a', acodec);
        core.SetChannels(2);
        core.SetSampleRate(44100);
        if (before_output) before_output();
        if (!core.OpenOutputFile(dst)) {
            ADD_FAILURE() << "output: " << core.last_error;
            return false;
        }
        return true;
    }
};

std::string Fps(int fps) { return std::to_string(fps) + ".000"; }

// Every container and codec pair the terminal front end offers for video, from
// every kind of RealMedia video the generator writes.
TEST_F(TranscodeVideoTest, RealVideoConvertsToEachContainerWithItsCodecsSizeAndRate) {
    struct Case {
        std::string video, audio, ext, vcodec, acodec;
        int fps;
        std::string container, vformat, aformat;
    };
    const Case cases[] = {
        {"rv10", "ac3", ".mp4", "libx264", "aac", 15, "MPEG-4", "AVC", "AAC"},
        {"rv20", "ra144", ".mp4", "libx264", "aac", 25, "MPEG-4", "AVC", "AAC"},
        {"rv20", "ac3", ".mkv", "libx264", "aac", 30, "Matroska", "AVC", "AAC"},
        {"rv10", "ra144", ".mkv", "mpeg4", "libmp3lame", 25, "Matroska", "MPEG-4 Visual", "MPEG Audio"},
        {"rv20", "ac3", ".avi", "mpeg4", "libmp3lame", 15, "AVI", "MPEG-4 Visual", "MPEG Audio"},
        // no codec named: the container's own choice
        {"rv10", "ac3", ".avi", "", "", 25, "AVI", "MPEG-4 Visual", "MPEG Audio"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video + "/" + c.audio + " -> " + c.ext + " " + c.vcodec);
        const std::string src = MakeFixture(dir, c.video + c.audio + std::to_string(c.fps) + ".rm", "rm-video",
                                            {"--video", c.video, "--audio", c.audio, "--fps",
                                             std::to_string(c.fps), "--seconds", "2"});
        const std::string dst = dir.File("out" + c.ext);
        core.ResetOptionState();
        lines.clear();
        ASSERT_TRUE(OpenVideo(src, dst, c.vcodec, c.acodec));
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_EQ(MediaInfoField(dst, "General", "Format"), c.container);
        EXPECT_EQ(MediaInfoField(dst, "Video", "Format"), c.vformat);
        EXPECT_EQ(MediaInfoField(dst, "Video", "Width"), "176");
        EXPECT_EQ(MediaInfoField(dst, "Video", "Height"), "144");
        EXPECT_EQ(MediaInfoField(dst, "Video", "FrameRate"), Fps(c.fps));
        EXPECT_EQ(MediaInfoField(dst, "Audio", "Format"), c.aformat);
        // Two seconds of pictures, give or take the last one.
        const int frames = std::atoi(MediaInfoField(dst, "Video", "FrameCount").c_str());
        EXPECT_NEAR(frames, 2 * c.fps, 1);
        const DecodedAudio audio = ReadWav(DecodeToWav(dst, dir.File("back.wav")));
        ASSERT_TRUE(audio.ok) << audio.error;
        EXPECT_NEAR(audio.Seconds(), 2.0, 0.1);
    }
}

}  // namespace
}  // namespace transcodetest
