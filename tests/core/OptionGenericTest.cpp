// The generic options: the carriers' search order, the recorded names, the
// library's refusal message and copying the recorded values to real contexts.
#include "tests/core/OptionFixture.h"

using namespace optiontest;

namespace {

class OptionGeneric : public OptionTest {};

struct TCodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec.avcodec_free_context(&c); }
};
using TContext = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;

TEST_F(OptionGeneric, UnknownAndBlankNamesAreDroppedSilently) {
    EXPECT_FALSE(core.SetGenericOption("no_such_option", "1"));
    EXPECT_FALSE(core.SetGenericOption("", "1"));
    EXPECT_FALSE(core.SetGenericOption(" \t", "1"));
    EXPECT_FALSE(core.SetGenericOption("b", ""));
    EXPECT_FALSE(core.SetGenericOption("b", " \r\n"));
    EXPECT_FALSE(core.SetGenericOption("a", "1"));  // the prefix alone is no name
    EXPECT_TRUE(core.generic_options.names.empty());
    EXPECT_TRUE(LibLinesSoFar().empty());
    core.SetOption("no_such_option", "1");  // SetOption ignores the answer
}

TEST_F(OptionGeneric, VbIsRecordedAsTheVideoB) {
    EXPECT_TRUE(core.SetGenericOption("vb", "300000"));
    EXPECT_EQ(core.generic_options.names, std::vector<std::string>{"b"});
    EXPECT_EQ(CarrierInt(Video(), "b"), 300000);
    EXPECT_EQ(CarrierInt(Audio(), "b"), DefaultBitRate());  // untouched default
}

TEST_F(OptionGeneric, PlainCodecOptionReachesEveryCarrierOfItsTypes) {
    EXPECT_TRUE(core.SetGenericOption("maxrate", "64000"));
    EXPECT_EQ(CarrierInt(Video(), "maxrate"), 64000);
    EXPECT_EQ(CarrierInt(Audio(), "maxrate"), 64000);
    EXPECT_EQ(CarrierInt(core.generic_options.codec_options[2], "maxrate"), 64000);  // data: any option
    EXPECT_EQ(CarrierInt(core.generic_options.codec_options[3], "maxrate"), 0);  // not a subtitle option
    EXPECT_EQ(CarrierInt(core.generic_options.codec_options[4], "maxrate"), 64000);
    EXPECT_EQ(core.generic_options.names, std::vector<std::string>{"maxrate"});
}

// The libraries' "b" and "bt" serve audio too; here they are the video's, and
// "ab", "abt" the audio's, whichever comes last.
TEST_F(OptionGeneric, BAndBtLeaveTheAudioCarrierAlone) {
    EXPECT_TRUE(core.SetGenericOption("ab", "128000"));
    EXPECT_TRUE(core.SetGenericOption("abt", "4000"));
    EXPECT_TRUE(core.SetGenericOption("b", "900000"));
    EXPECT_TRUE(core.SetGenericOption("bt", "8000"));
    EXPECT_EQ(CarrierInt(Video(), "b"), 900000);
    EXPECT_EQ(CarrierInt(Video(), "bt"), 8000);
    EXPECT_EQ(CarrierInt(Audio(), "b"), 128000);
    EXPECT_EQ(CarrierInt(Audio(), "bt"), 4000);
    EXPECT_EQ(CarrierInt(core.generic_options.codec_options[2], "b"), 900000);
    EXPECT_EQ(core.generic_options.names, (std::vector<std::string>{"ab", "bt", "b", "bt"}));
}

TEST_F(OptionGeneric, FormatAndScalerCarriers) {
    EXPECT_TRUE(core.SetGenericOption("packetsize", "2324"));
    EXPECT_EQ(CarrierInt(Format(), "packetsize"), 2324);
    EXPECT_TRUE(core.SetGenericOption("sws_flags", "bilinear"));
    EXPECT_EQ(CarrierInt(core.generic_options.scaler_options, "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(core.generic_options.names, (std::vector<std::string>{"packetsize", "sws_flags"}));
}

TEST_F(OptionGeneric, RefusedValueIsLoggedByTheLibrary) {
    EXPECT_FALSE(core.SetGenericOption("g", "abc"));
    EXPECT_TRUE(core.generic_options.names.empty());
    const auto lib = LibLinesSoFar();
    ASSERT_FALSE(lib.empty());
    EXPECT_EQ(lib.back(), "Invalid value \"abc\" for option \"g\"\n");
    // Hostile text goes through as data, never as a format.
    EXPECT_FALSE(core.SetGenericOption("g", "%s%n%x"));
    EXPECT_EQ(LibLinesSoFar().back(), "Invalid value \"%s%n%x\" for option \"g\"\n");
    EXPECT_NO_THROW(core.SetOption("g", "999999999999999999999999"));
}

TEST_F(OptionGeneric, ConverterSettings) {
    Listen();
    core.SetCodecName('a', "libmp3lame");
    core.SetChannels(2);
    core.SetSampleRate(44100);
    EXPECT_TRUE(core.SetGenericIntOption("ab", 256000));
    EXPECT_EQ(core.audio_codec_name, "libmp3lame");
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_EQ(core.audio_sample_rate, 44100);
    // The linked library knows "ab" as an audio option of its own.
    EXPECT_EQ(core.generic_options.names, std::vector<std::string>{"ab"});
    EXPECT_EQ(CarrierInt(Audio(), "b"), 256000);
    EXPECT_EQ(CarrierInt(Video(), "b"), DefaultBitRate());
    EXPECT_TRUE(lines.empty());

    // The audio encoder receives it; a subtitle encoder does not.
    TContext encoder(avcodec.avcodec_alloc_context3(nullptr));
    core.ApplyGenericOptions(encoder.get(), Audio(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(encoder->bit_rate, 256000);
    TContext subtitle(avcodec.avcodec_alloc_context3(nullptr));
    core.ApplyGenericOptions(subtitle.get(), Audio(), AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(subtitle->bit_rate, DefaultBitRate());
}

TEST_F(OptionGeneric, ApplyCopiesInRecordingOrderWithTheMask) {
    core.SetGenericOption("g", "25");
    core.SetGenericOption("ab", "96000");
    core.SetGenericOption("vb", "500000");
    core.SetGenericOption("packetsize", "1000");
    TContext video(avcodec.avcodec_alloc_context3(nullptr));
    core.ApplyGenericOptions(video.get(), Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(video->gop_size, 25);
    EXPECT_EQ(video->bit_rate, 500000);
    // "g" is a video option only: an audio encoder keeps its default.
    TContext audio(avcodec.avcodec_alloc_context3(nullptr));
    core.ApplyGenericOptions(audio.get(), Audio(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_EQ(audio->gop_size, 12);
    AVFormatContext* format = avformat.avformat_alloc_context();
    core.ApplyGenericOptions(format, Format(), AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(format->packet_size, 1000u);
    avformat.avformat_free_context(format);
    core.ApplyGenericOptions(nullptr, Format(), 1);  // nothing to do
}

TEST_F(OptionGeneric, DebugRaisesTheVerbosity) {
    EXPECT_TRUE(core.SetGenericOption("debug", "pict"));
    EXPECT_EQ(core.verbosity, 2);
    EXPECT_EQ(LogThreshold.load(), 2);
}

}  // namespace
