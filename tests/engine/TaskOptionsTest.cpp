// What the task records do to a transcoder core.
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

class TaskOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        core.ReInitialize();
        reference.ReInitialize();
    }
    int64_t CarrierInt(int media, const char* name) {
        int64_t value = 0;
        avutil.av_opt_get_int(core.generic_options.codec_options[media], name, 0, &value);
        return value;
    }
    TCustomFFmpeg core;
    TCustomFFmpeg reference;  // untouched defaults
};

}  // namespace

TEST_F(TaskOptionsTest, TheConvertersRecordSetsCodecChannelsRateAndBitrate) {
    TOutputOptions o;
    o.AudioCodec = "libmp3lame";
    o.AudioChannels = 2;
    o.AudioSampleRate = 44100;
    o.AudioBitrate = 256000;
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.audio_codec_name, "libmp3lame");
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_EQ(core.audio_sample_rate, 44100);
    EXPECT_EQ(CarrierInt(1, "b"), 256000);
    o.AudioChannels = 1;
    o.AudioSampleRate = 22050;
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.audio_channels, 1);
    EXPECT_EQ(core.audio_sample_rate, 22050);
}

TEST_F(TaskOptionsTest, FieldsAtTheirDefaultsSetNothing) {
    ApplyOutputOptions(core, TOutputOptions{});
    EXPECT_EQ(core.audio_codec_name, reference.audio_codec_name);
    EXPECT_EQ(core.video_codec_name, reference.video_codec_name);
    EXPECT_EQ(core.audio_channels, reference.audio_channels);
    EXPECT_EQ(core.audio_sample_rate, reference.audio_sample_rate);
    EXPECT_EQ(core.audio_volume, reference.audio_volume);
    EXPECT_EQ(core.audio_disabled, reference.audio_disabled);
    EXPECT_EQ(core.video_disabled, reference.video_disabled);
    EXPECT_EQ(core.subtitle_disabled, reference.subtitle_disabled);
    EXPECT_EQ(core.audio_sync_method, reference.audio_sync_method);
    EXPECT_EQ(core.video_sync_method, reference.video_sync_method);
    EXPECT_EQ(core.pad_color, reference.pad_color);
    EXPECT_EQ(core.crop_top + core.crop_bottom + core.crop_left + core.crop_right, 0);
    EXPECT_EQ(core.pad_top + core.pad_bottom + core.pad_left + core.pad_right, 0);
    EXPECT_EQ(core.frame_width, reference.frame_width);
    EXPECT_EQ(core.frame_rate.num, reference.frame_rate.num);
    EXPECT_FLOAT_EQ(core.mux_preload, reference.mux_preload);
    EXPECT_FLOAT_EQ(core.mux_max_delay, reference.mux_max_delay);
    EXPECT_EQ(core.start_time, reference.start_time);
    EXPECT_EQ(core.recording_time, reference.recording_time);
    EXPECT_EQ(core.expected_duration_ms, reference.expected_duration_ms);
    EXPECT_EQ(core.record_timestamp, reference.record_timestamp);
    EXPECT_EQ(core.copy_ts, reference.copy_ts);
    EXPECT_FALSE(core.overwrite_output || core.discard_stopped_output);
    EXPECT_TRUE(core.metadata.empty());
    EXPECT_TRUE(core.hook_ranges.empty());
    EXPECT_TRUE(core.generic_options.names.empty());
    EXPECT_EQ(core.forced_output_format, nullptr) << "Target 0 applies no preset";
    EXPECT_EQ(core.audio_codec_tag, 0u);
    EXPECT_TRUE(core.video_filters.empty());
}

TEST_F(TaskOptionsTest, TargetZeroIgnoresTheNorms) {
    TOutputOptions o;
    o.TargetNorm = 2;
    o.TargetFallbackNorm = 0;
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.forced_output_format, nullptr);
    EXPECT_EQ(core.frame_width, 0);
}

TEST_F(TaskOptionsTest, ATargetAppliesItsPreset) {
    TOutputOptions o;
    o.Target = 1;
    o.TargetNorm = 1;  // pal
    ApplyOutputOptions(core, o);
    ASSERT_NE(core.forced_output_format, nullptr);
    EXPECT_STREQ(core.forced_output_format->name, "vcd");
    EXPECT_EQ(core.frame_width, 352);
    EXPECT_EQ(core.frame_height, 288);
    EXPECT_EQ(core.audio_sample_rate, 44100);
}

TEST_F(TaskOptionsTest, EveryFieldReachesItsOption) {
    TOutputOptions o;
    o.MuxDelay = 1.5f;
    o.MuxPreload = 0.25f;
    o.AudioVolume = 512;
    o.AudioLanguage = "eng";
    o.AudioSync = 1;
    o.AudioTag = "abcd";
    o.DisableVideo = true;
    o.FrameRate = "25";
    o.FrameSize = "320x240";
    o.AspectRatio = "4:3";
    o.CropTop = 8;
    o.PadLeft = 16;
    o.PadColor = 0x0000FF;  // pure red
    o.VideoBitrate = 500000;
    o.GopSize = 12;
    o.VideoSync = 1;
    o.VideoTag = "DIVX";
    o.VideoFilters = "null";
    o.DisableSubtitle = true;
    o.SubtitleLanguage = "fra";
    o.CopyTimestamps = true;
    o.ReplaceExisting = o.DiscardStopped = true;
    o.StartTime = 2500;
    o.RecordingTime = 60000;
    o.Year = 2024;
    o.Track = 3;
    o.Title = std::string(600, 't');
    o.Genre = std::string(40, 'g');
    o.Album = "Album";
    ApplyOutputOptions(core, o);
    EXPECT_FLOAT_EQ(core.mux_max_delay, 1.5f);
    EXPECT_FLOAT_EQ(core.mux_preload, 0.25f);
    EXPECT_EQ(core.audio_volume, 512);
    EXPECT_EQ(core.audio_language, "eng");
    EXPECT_EQ(core.audio_sync_method, 1);
    EXPECT_EQ(core.audio_codec_tag, 0x64636261u);
    EXPECT_TRUE(core.video_disabled);
    EXPECT_EQ(core.frame_rate.num, 25);
    EXPECT_EQ(core.frame_width, 320);
    EXPECT_EQ(core.frame_height, 240 - 8);
    EXPECT_NEAR(core.frame_aspect, 4.0 / 3.0, 1e-6);
    EXPECT_EQ(core.crop_top, 8);
    EXPECT_EQ(core.pad_left, 16);
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{76, 85, 255}));
    EXPECT_EQ(CarrierInt(0, "b"), 500000);
    EXPECT_EQ(CarrierInt(0, "g"), 12);
    EXPECT_EQ(core.video_sync_method, 1);
    EXPECT_EQ(core.video_filters, "null");
    EXPECT_TRUE(core.subtitle_disabled);
    EXPECT_EQ(core.subtitle_language, "fra");
    EXPECT_TRUE(core.copy_ts);
    EXPECT_TRUE(core.overwrite_output && core.discard_stopped_output);
    EXPECT_EQ(core.start_time, 2500000);
    EXPECT_EQ(core.recording_time, 60000000);
    EXPECT_EQ(core.expected_duration_ms, 60000);
    ASSERT_EQ(core.metadata.size(), 5u);
    EXPECT_EQ(core.metadata[0], (std::pair<std::string, std::string>{"year", "2024"}));
    EXPECT_EQ(core.metadata[1], (std::pair<std::string, std::string>{"track", "3"}));
    EXPECT_EQ(core.metadata[2].first, "title");
    EXPECT_EQ(core.metadata[2].second.size(), 511u);
    EXPECT_EQ(core.metadata[3], (std::pair<std::string, std::string>{"album", "Album"}));
    EXPECT_EQ(core.metadata[4].first, "genre");
    EXPECT_EQ(core.metadata[4].second.size(), 31u);
}

TEST_F(TaskOptionsTest, ARejectedValueRaisesAndKeepsEarlierFields) {
    TOutputOptions o;
    o.AudioVolume = 300;
    o.FrameSize = "321x240";
    EXPECT_THROW(ApplyOutputOptions(core, o), Exception);
    EXPECT_EQ(core.audio_volume, 300);
}

TEST_F(TaskOptionsTest, TimestampZeroIsNowAndPositiveIsThatMoment) {
    TOutputOptions o;
    o.Timestamp = 0.0;
    const int64_t before = std::time(nullptr);
    ApplyOutputOptions(core, o);
    EXPECT_GE(core.record_timestamp, before - 1);
    EXPECT_LE(core.record_timestamp, std::time(nullptr) + 1);
    // 1 January 2000 00:00 local time.
    o.Timestamp = 36526.0;
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.record_timestamp, 946684800 + LocalTimeZoneBias() * 60);
    const int64_t kept = core.record_timestamp;
    o.Timestamp = -1.0;
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.record_timestamp, kept);
}

TEST(TimestampTest, LocalDateTimesBecomeUtcSeconds) {
    EXPECT_EQ(LocalDateTimeToUnix(25569.0, 0), 0);
    EXPECT_EQ(LocalDateTimeToUnix(25569.0, 60), 3600);    // UTC = local + 60 min
    EXPECT_EQ(LocalDateTimeToUnix(25569.0, -120), -7200);
    EXPECT_EQ(LocalDateTimeToUnix(25570.25, 0), 86400 + 21600);
    EXPECT_NEAR(LocalNow(), LocalDateTimeToUnix(LocalNow(), 0) / 86400.0 + 25569.0, 1.0 / 86400);
}

TEST(HookRangesTest, KeepsWellFormedRangesInMicroseconds) {
    const auto r = ParseHookRanges("1000-2000, 5000-4000 ,x-3000");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], (THookRange{1000000, 2000000}));
    EXPECT_EQ(r[1], (THookRange{-1000, 3000000}));
}

TEST(HookRangesTest, RejectsWhatIsNotARange) {
    EXPECT_TRUE(ParseHookRanges("").empty());
    EXPECT_TRUE(ParseHookRanges("   ").empty());
    EXPECT_TRUE(ParseHookRanges("1000").empty());
    EXPECT_TRUE(ParseHookRanges("5-x").empty());
    EXPECT_TRUE(ParseHookRanges(",,,").empty());
    EXPECT_TRUE(ParseHookRanges("-").empty());
    EXPECT_EQ(ParseHookRanges(" 0-0 ").size(), 1u);
    EXPECT_EQ(ParseHookRanges("1 - 2").size(), 1u);
    const auto big = ParseHookRanges("9000000000-9000000001");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].end, 9000000001000LL);
}

TEST_F(TaskOptionsTest, HookRangesApplyOnlyWithoutHookEvents) {
    TOutputOptions o;
    o.HookRanges = "5000-6000,1000-2000";
    ApplyOutputOptions(core, o);
    ASSERT_EQ(core.hook_ranges.size(), 2u);
    EXPECT_EQ(core.hook_ranges[0].end, 2000000) << "sorted by end";
    o.BeforeHook = true;
    o.HookRanges = "1-2";
    ApplyOutputOptions(core, o);
    EXPECT_EQ(core.hook_ranges.size(), 2u);
    o.BeforeHook = false;
    o.HookRanges = "nothing";
    ApplyOutputOptions(core, o);
    EXPECT_TRUE(core.hook_ranges.empty());
}

TEST_F(TaskOptionsTest, TheFirstPassSkipsTheStreamOptions) {
    TOutputOptions o;
    o.ExtOptions = "newaudio\nar=22050";
    EXPECT_NO_THROW(ApplyOutputOptions(core, o));
    EXPECT_EQ(core.audio_sample_rate, 22050);
    TInputOptions in;
    in.ExtOptions = "newvideo=\nac=1";
    EXPECT_NO_THROW(ApplyInputOptions(core, in));
    EXPECT_EQ(core.audio_channels, 1);
}
