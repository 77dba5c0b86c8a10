// Copied video keeps its pictures' times in every container, also in those
// that count in pictures: checked with mediainfo and by decoding the copy.
#include <gtest/gtest.h>

#include "tests/common/VideoCheck.h"
#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

class TranscodeCopyTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (!HaveMediaInfo()) GTEST_SKIP() << "mediainfo is not installed (scripts/deps installs it)";
    }
};

// H.264 in MP4 counts time in ticks of 1/12800 s. Copied into AVI (which
// counts pictures), MP4 and Matroska, the stream shows 25 pictures a second,
// each once and at its own time.
TEST_F(TranscodeCopyTest, CopiedPicturesKeepTheirRateAndTimesInEveryContainer) {
    const std::string rm = MakeFixture(dir, "in.rm", "rm-video", {"--video", "rv20", "--fps", "25", "--seconds", "2"});
    const std::string h264 = dir.File("h264.mp4");
    ASSERT_TRUE(core.OpenInputFile(rm)) << core.last_error;
    core.SetCodecName('v', "libx264");
    core.SetOption("an", "");
    ASSERT_TRUE(core.OpenOutputFile(h264)) << core.last_error;
    ASSERT_EQ(Run(), "") << AllLines();
    const size_t pictures = DecodePictures(h264).size();
    ASSERT_EQ(pictures, 50u);

    for (const char* ext : {".avi", ".mp4", ".mkv"}) {
        SCOPED_TRACE(ext);
        const std::string dst = dir.File(std::string("copy") + ext);
        core.ResetOptionState();
        ASSERT_TRUE(core.OpenInputFile(h264)) << core.last_error;
        core.SetCodecName('v', "copy");
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        ASSERT_EQ(Run(), "") << AllLines();
        EXPECT_EQ(MediaInfoField(dst, "Video", "Format"), "AVC");
        EXPECT_EQ(MediaInfoField(dst, "Video", "FrameRate"), "25.000");
        EXPECT_EQ(MediaInfoField(dst, "Video", "FrameCount"), "50");
        std::string error;
        const std::vector<DecodedPicture> copied = DecodePictures(dst, &error);
        ASSERT_EQ(copied.size(), pictures) << error;
        // AVI stores no times: a picture's time is its place at the rate, checked above.
        if (std::string(ext) == ".avi") continue;
        for (size_t k = 0; k < copied.size(); ++k)
            EXPECT_NEAR(copied[k].seconds - copied[0].seconds, static_cast<double>(k) / 25, 0.5 / 25) << k;
    }
}

}  // namespace
}  // namespace transcodetest
