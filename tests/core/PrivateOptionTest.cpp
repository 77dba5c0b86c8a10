// Settings that live in the encoders' and muxers' own option classes reach
// them through the generic option routines.
#include <gtest/gtest.h>

#include "tests/common/TranscodeFixture.h"

namespace transcodetest {
namespace {

using PrivateOptionTest = TranscodeTest;

TEST_F(PrivateOptionTest, NamesOfPrivateClassesAreAcceptedAndBadValuesRefused) {
    struct Case {
        const char* name;
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {"crf", "20", true},              // libx264
        {"crf", "abc", false},
        {"joint_stereo", "0", true},      // libmp3lame
        {"scan_offset", "1", true},       // mpeg2video
        {"movflags", "+faststart", true}, // the MP4 muxer
        {"movflags", "+no_such_flag", false},
        {"id3v2_version", "3", true},     // the MP3 muxer
        {"muxrate", "1411200", true},     // the MPEG program stream muxers
        {"no_such_option_anywhere", "1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        EXPECT_EQ(core.SetGenericOption(c.name, c.value), c.accepted);
    }
}

// What the muxer and encoder made of them, read from the bytes on disk.
TEST_F(PrivateOptionTest, MuxerOptionsShapeTheWrittenFile) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    for (const char* version : {"3", "4"}) {
        SCOPED_TRACE(std::string("id3v2_version ") + version);
        const std::string dst = dir.File(std::string("v") + version + ".mp3");
        core.ResetOptionState();
        core.AddMetadata("title", "private options");
        ASSERT_TRUE(Open(src, dst, 2, 44100, 128, [&] { ASSERT_TRUE(core.SetGenericOption("id3v2_version", version)); }));
        ASSERT_EQ(Run(), "");
        const std::string bytes = ReadFileBytes(dst);
        ASSERT_GT(bytes.size(), 10u);
        EXPECT_EQ(bytes.substr(0, 3), "ID3");
        EXPECT_EQ(bytes[3], version[0] - '0');
        EXPECT_TRUE(DecodeMp3(dst).ok);
    }

    const std::string video = MakeRealVideo(dir, "v.rm", 1.0, "rv10", RealAudio::Ac3);
    for (const bool faststart : {false, true}) {
        SCOPED_TRACE(faststart ? "faststart" : "index at the end");
        const std::string dst = dir.File(faststart ? "fast.mp4" : "plain.mp4");
        core.ResetOptionState();
        ASSERT_TRUE(core.OpenInputFile(video)) << core.last_error;
        core.SetCodecName('v', "libx264");
        core.SetCodecName('a', "aac");
        if (faststart) {
            ASSERT_TRUE(core.SetGenericOption("movflags", "+faststart"));
        }
        ASSERT_TRUE(core.OpenOutputFile(dst)) << core.last_error;
        ASSERT_EQ(Run(), "") << AllLines();
        const std::string bytes = ReadFileBytes(dst);
        const size_t moov = bytes.find("moov");
        const size_t mdat = bytes.find("mdat");
        ASSERT_NE(moov, std::string::npos);
        ASSERT_NE(mdat, std::string::npos);
        EXPECT_EQ(moov < mdat, faststart);
    }
}

}  // namespace
}  // namespace transcodetest
