// Target presets: norms given, detected or fallen back on, every preset's
// settings, the notes and the failures.
#include "tests/common/Fixtures.h"
#include "tests/core/OptionFixture.h"

using namespace optiontest;

namespace {

class OptionTarget : public OptionTest {
protected:
    void ExpectRate(int num, int den) {
        EXPECT_EQ(core.frame_rate.num, num);
        EXPECT_EQ(core.frame_rate.den, den);
    }
    void ExpectSize(int w, int h) {
        EXPECT_EQ(core.frame_width, w);
        EXPECT_EQ(core.frame_height, h);
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& line : lines) texts.push_back(line.text);
        return texts;
    }
};

TEST_F(OptionTarget, PalVcd) {
    Listen();
    core.SetOption("target", "pal-vcd");
    ExpectSize(352, 288);
    ExpectRate(25, 1);
    EXPECT_EQ(core.video_codec_name, "mpeg1video");
    EXPECT_EQ(core.audio_codec_name, "mp2");
    ASSERT_NE(core.forced_output_format, nullptr);
    EXPECT_STREQ(core.forced_output_format->name, "vcd");
    EXPECT_EQ(CarrierInt(Video(), "g"), 15);
    EXPECT_EQ(CarrierInt(Video(), "b"), 1150000);
    EXPECT_EQ(CarrierInt(Video(), "maxrate"), 1150000);
    EXPECT_EQ(CarrierInt(Video(), "minrate"), 1150000);
    EXPECT_EQ(CarrierInt(Video(), "bufsize"), 327680);
    EXPECT_EQ(CarrierInt(Audio(), "b"), 224000);
    EXPECT_EQ(CarrierInt(Format(), "packetsize"), 2324);
    EXPECT_EQ(core.audio_sample_rate, 44100);
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_FLOAT_EQ(core.mux_preload, 0.44f);
    EXPECT_FLOAT_EQ(core.frame_aspect, 4.0f / 3.0f);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Assuming 4:3 for aspect ratio"});
}

TEST_F(OptionTarget, DetectedFromTheFrameRate) {
    Listen();
    core.SetOption("r", "29.97");
    core.SetOption("target", "vcd");
    ExpectSize(352, 240);
    ExpectRate(30000, 1001);
    EXPECT_EQ(CarrierInt(Video(), "g"), 18);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (TLogLine{1, "Assuming NTSC for target."}));
    lines.clear();
    core.SetOption("r", "25");
    core.SetOption("target", "svcd");
    ExpectSize(480, 576);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Assuming PAL for target."});  // aspect already set
}

// Disc pictures are 4:3 or 16:9: any other aspect (an input's 11:9, a given
// 2.35) becomes the nearer one with the note; 4:3 and 16:9 stay without one.
TEST_F(OptionTarget, DiscAspectsAreFourByThreeOrSixteenByNine) {
    struct Case {
        const char* target;
        float before, after;
        bool note;
    };
    const Case cases[] = {
        {"pal-vcd", 176.0f / 144.0f, 4.0f / 3.0f, true},   {"pal-dvd", 176.0f / 144.0f, 4.0f / 3.0f, true},
        {"ntsc-svcd", 561.0f / 321.0f, 16.0f / 9.0f, true}, {"pal-dvd", 2.35f, 16.0f / 9.0f, true},
        {"pal-dvd", 4.0f / 3.0f, 4.0f / 3.0f, false},       {"pal-vcd", 16.0f / 9.0f, 16.0f / 9.0f, false},
        {"pal-dv", 176.0f / 144.0f, 176.0f / 144.0f, false},
    };
    Listen();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " " + std::to_string(c.before));
        core.frame_aspect = c.before;
        lines.clear();
        core.SetOption("target", c.target);
        EXPECT_FLOAT_EQ(core.frame_aspect, c.after);
        EXPECT_EQ(!lines.empty(), c.note);
    }
}

TEST_F(OptionTarget, NoFrameRateToDetectFrom) {
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("target", "dvd"); }), "frame_rate is invalid.");
    EXPECT_EQ(core.video_codec_name, "");
}

TEST_F(OptionTarget, FallbackNorms) {
    Listen();
    core.SetOption("r", "24");
    core.SetOption("target", "dvd");  // no rate matches, no inputs: "ntsc"
    ExpectSize(720, 480);
    ExpectRate(30000, 1001);
    EXPECT_EQ(lines.front().text, "Assuming NTSC for target.");

    lines.clear();
    core.SetOption("r", "24");
    core.SetTarget("dvd", "auto", "film");
    ExpectSize(720, 480);
    ExpectRate(24000, 1001);
    EXPECT_EQ(lines.front().text, "Assuming NTSC for target.");

    lines.clear();
    core.SetOption("r", "24");
    core.SetTarget("dvd", "auto", "anything");
    ExpectSize(720, 576);
    ExpectRate(25, 1);
    EXPECT_EQ(lines.front().text, "Assuming PAL for target.");

    // Verbosity 0: no norm note.
    lines.clear();
    core.verbosity = 0;
    core.SetTarget("dvd", "auto", "pal");
    EXPECT_TRUE(lines.empty());
}

TEST_F(OptionTarget, SvcdAndDvdChannelRule) {
    core.audio_channels = 6;
    core.SetOption("target", "ntsc-svcd");
    EXPECT_EQ(core.audio_channels, 6);
    core.audio_channels = 1;
    core.SetOption("target", "ntsc-svcd");
    EXPECT_EQ(core.audio_channels, 2);
    core.audio_channels = 6;
    core.SetOption("target", "film-vcd");
    EXPECT_EQ(core.audio_channels, 2);
    ExpectRate(24000, 1001);
    ExpectSize(352, 240);
}

TEST_F(OptionTarget, SvcdAndDvdSettings) {
    Listen();
    core.SetOption("target", "ntsc-svcd");
    EXPECT_EQ(core.video_codec_name, "mpeg2video");
    EXPECT_EQ(core.audio_codec_name, "mp2");
    EXPECT_STREQ(core.forced_output_format->name, "svcd");
    ExpectSize(480, 480);
    EXPECT_EQ(CarrierInt(Video(), "b"), 2040000);
    EXPECT_EQ(CarrierInt(Video(), "maxrate"), 2516000);
    EXPECT_EQ(CarrierInt(Video(), "minrate"), 0);
    EXPECT_EQ(CarrierInt(Video(), "bufsize"), 1835008);
    EXPECT_EQ(CarrierInt(Audio(), "b"), 224000);
    EXPECT_EQ(CarrierInt(Format(), "packetsize"), 2324);
    EXPECT_FLOAT_EQ(core.mux_preload, 0.5f);
    EXPECT_FLOAT_EQ(core.frame_aspect, 4.0f / 3.0f);

    core.frame_aspect = 0;
    lines.clear();
    core.SetOption("target", "pal-dvd");
    EXPECT_EQ(core.audio_codec_name, "ac3");
    EXPECT_STREQ(core.forced_output_format->name, "dvd");
    ExpectSize(720, 576);
    EXPECT_EQ(CarrierInt(Video(), "g"), 15);
    EXPECT_EQ(CarrierInt(Video(), "b"), 6000000);
    EXPECT_EQ(CarrierInt(Video(), "maxrate"), 9000000);
    EXPECT_EQ(CarrierInt(Format(), "packetsize"), 2048);
    EXPECT_EQ(CarrierInt(Audio(), "b"), 448000);
    EXPECT_EQ(core.audio_sample_rate, 48000);
    EXPECT_FLOAT_EQ(core.frame_aspect, 16.0f / 9.0f);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Assuming 16:9 for aspect ratio"});
}

TEST_F(OptionTarget, DvPresets) {
    core.SetOption("target", "pal-dv");
    EXPECT_STREQ(core.forced_output_format->name, "dv");
    ExpectSize(720, 576);
    EXPECT_EQ(core.frame_pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(core.audio_sample_rate, 48000);
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_EQ(core.video_codec_name, "");  // codecs unchanged
    EXPECT_FLOAT_EQ(core.frame_aspect, 0.0f);
    core.SetOption("target", "ntsc-dv");
    EXPECT_EQ(core.frame_pix_fmt, AV_PIX_FMT_YUV411P);
    ExpectRate(30000, 1001);
    core.SetOption("target", "ntsc-dv50");
    EXPECT_EQ(core.frame_pix_fmt, AV_PIX_FMT_YUV422P);
    ExpectSize(720, 480);
}

TEST_F(OptionTarget, GivenAspectIsKept) {
    Listen();
    core.SetOption("aspect", "16:9");
    core.SetOption("target", "pal-vcd");
    EXPECT_FLOAT_EQ(core.frame_aspect, 16.0f / 9.0f);
    EXPECT_TRUE(lines.empty());
}

TEST_F(OptionTarget, LaterOptionsOverridePresetValues) {
    core.SetOption("target", "pal-vcd");
    core.SetOption("s", "320x240");
    core.SetOption("ab", "128000");
    core.SetOption("acodec", "libmp3lame");
    ExpectSize(320, 240);
    EXPECT_EQ(CarrierInt(Audio(), "b"), 128000);
    EXPECT_EQ(core.audio_codec_name, "libmp3lame");
}

TEST_F(OptionTarget, DetectedFromTheOpenedInputs) {
    using namespace ardentix::test;
    TempDir dir;
    const std::string pal = MakeFixture(dir, "pal.rm", "rm-video", {"--video", "rv20", "--fps", "25"});
    const std::string other = MakeFixture(dir, "other.rm", "rm-video", {"--video", "rv20", "--fps", "15"});
    ASSERT_TRUE(core.OpenInputFile(other)) << core.last_error;
    ASSERT_TRUE(core.OpenInputFile(pal)) << core.last_error;
    Listen();
    core.SetOption("r", "24");  // matches no norm: the inputs decide, the 15 fps one is skipped
    core.SetTarget("dvd", "auto", "ntsc");
    ExpectSize(720, 576);
    ExpectRate(25, 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].text, "Assuming PAL for target.");
}

TEST_F(OptionTarget, UnknownKind) {
    Listen();
    core.SetOption("r", "25");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("target", "laserdisc"); }), "Unknown target type");
    EXPECT_EQ(Texts(), std::vector<std::string>{"Assuming PAL for target."});
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("target", "pal-"); }), "Unknown target type");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("target", "PAL-vcd"); }), "Unknown target type");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("target", ""); }), "Unknown target type");
    // Surrounding blanks are trimmed.
    core.SetOption("target", "  pal-dv \t");
    EXPECT_STREQ(core.forced_output_format->name, "dv");
}

// Only film on DVD is coded as soft pulldown (DVD-Video has no film rate; the
// Video CD standards have one); each target sets it afresh.
TEST_F(OptionTarget, OnlyFilmDvdIsCodedAsPulldown) {
    const std::pair<const char*, bool> cases[] = {{"film-dvd", true},  {"film-vcd", false}, {"film-svcd", false},
                                                  {"film-dvd", true},  {"ntsc-dvd", false}, {"pal-dvd", false},
                                                  {"film-dv50", false}};
    for (const auto& [target, pulldown] : cases) {
        core.SetOption("target", target);
        EXPECT_EQ(core.soft_pulldown, pulldown) << target;
    }
}

}  // namespace
