// The value handlers: good, bad and hostile values, their exact messages and
// what stays set after a rejection.
#include <regex>
#include <unistd.h>

#include "core/Conversions.h"
#include "tests/core/OptionFixture.h"

using namespace optiontest;

namespace {

class OptionHandlers : public OptionTest {
protected:
    std::string Fails(const std::string& name, const std::string& value) {
        return MessageOf<FFmpegException>([&] { core.SetOption(name, value); });
    }
};

constexpr const char* Vertical =
    "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
constexpr const char* Horizontal =
    "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";

TEST_F(OptionHandlers, FormatByNameForInputAndOutput) {
    core.SetOption("f", "mp3");
    ASSERT_NE(core.forced_input_format, nullptr);
    ASSERT_NE(core.forced_output_format, nullptr);
    EXPECT_STREQ(core.forced_output_format->name, "mp3");
    // A muxer-only name still sets the output and clears the input.
    core.SetOption("f", "ipod");
    EXPECT_EQ(core.forced_input_format, nullptr);
    EXPECT_NE(core.forced_output_format, nullptr);
    EXPECT_EQ(Fails("f", "no_such_format"), "Unknown input or output format: no_such_format");
    EXPECT_EQ(core.forced_output_format, nullptr);
    EXPECT_EQ(Fails("f", "%s%n%s"), "Unknown input or output format: %s%n%s");
    core.SetOption("f", "mp3");
    core.SetOption("f", "");  // empty: nothing
    EXPECT_NE(core.forced_output_format, nullptr);
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetInputFormat("no_such"); }), "Unknown input format: no_such");
    EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOutputFormat("no_such"); }), "Unknown output format: no_such");
    core.SetInputFormat("wav");
    EXPECT_STREQ(core.forced_input_format->name, "wav");
}

TEST_F(OptionHandlers, PgmyuvIsTakenAsImage2) {
    Listen();
    core.SetOption("f", "pgmyuv");
    EXPECT_EQ(core.image2_forced, 1);
    ASSERT_NE(core.forced_input_format, nullptr);
    EXPECT_STREQ(core.forced_input_format->name, "image2");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (TLogLine{1, "pgmyuv format is deprecated, use image2"}));
}

TEST_F(OptionHandlers, FrameRate) {
    core.SetOption("r", "25");
    EXPECT_EQ(core.frame_rate.num, 25);
    EXPECT_EQ(core.frame_rate.den, 1);
    core.SetOption("r", "ntsc");
    EXPECT_EQ(core.frame_rate.num, 30000);
    EXPECT_EQ(core.frame_rate.den, 1001);
    core.SetOption("r", "");
    EXPECT_EQ(core.frame_rate.num, 30000);
    for (const char* bad : {"abc", "-5", "0", "1/0", "25fps"}) EXPECT_EQ(Fails("r", bad), "Incorrect frame rate") << bad;
}

TEST_F(OptionHandlers, FrameSize) {
    core.SetOption("s", "vga");
    EXPECT_EQ(core.frame_width, 640);
    EXPECT_EQ(core.frame_height, 480);
    EXPECT_EQ(Fails("s", "321x240"), "Frame size must be a multiple of 2");
    EXPECT_EQ(core.frame_width, 321);  // stays stored
    EXPECT_EQ(core.frame_height, 240);
    for (const char* bad : {"x", "abc", "-2x4", "0x0"})
        EXPECT_EQ(Fails("s", bad), "Incorrect frame size") << bad;
    core.SetOption("s", "");
    EXPECT_EQ(core.frame_width, 321);
}

TEST_F(OptionHandlers, Aspect) {
    core.SetOption("aspect", "16:9");
    EXPECT_FLOAT_EQ(core.frame_aspect, 1.7777778f);
    core.SetOption("aspect", "1.5");
    EXPECT_FLOAT_EQ(core.frame_aspect, 1.5f);
    core.SetOption("aspect", "-4:3");  // negative ratios are accepted
    EXPECT_FLOAT_EQ(core.frame_aspect, -4.0f / 3.0f);
    for (const char* bad : {"4:0", "0", "0:5", "abc", "4:-3", "a:b", "1e-50", "1e300", "nan", ":"})
        EXPECT_EQ(Fails("aspect", bad), "Incorrect aspect ratio specification.") << bad;
    EXPECT_FLOAT_EQ(core.frame_aspect, -4.0f / 3.0f);
    core.SetOption("aspect", "");
    EXPECT_FLOAT_EQ(core.frame_aspect, -4.0f / 3.0f);
}

TEST_F(OptionHandlers, PixelAndSampleFormats) {
    core.SetOption("pix_fmt", "yuv420p");
    EXPECT_EQ(core.frame_pix_fmt, AV_PIX_FMT_YUV420P);
    core.SetOption("pix_fmt", "no_such_fmt");
    EXPECT_EQ(core.frame_pix_fmt, -1);
    core.SetOption("sample_fmt", "s16");
    EXPECT_EQ(core.audio_sample_fmt, AV_SAMPLE_FMT_S16);
    core.SetOption("sample_fmt", "");
    EXPECT_EQ(core.audio_sample_fmt, -1);

    core.SetOption("pix_fmt", "list");  // no receiver: nothing
    EXPECT_TRUE(lines.empty());
    Listen();
    core.frame_pix_fmt = 7;
    core.SetOption("pix_fmt", "list");
    ASSERT_EQ(lines.size(), static_cast<size_t>(AV_PIX_FMT_NB) + 1);
    EXPECT_EQ(lines[0].text.rfind("name", 0), 0u);
    EXPECT_EQ(lines[1].text.rfind("yuv420p", 0), 0u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.level, 1);
        EXPECT_FALSE(line.text.empty());
        EXPECT_NE(line.text.back(), ' ');
    }
    EXPECT_EQ(core.frame_pix_fmt, 7);  // listing changes nothing
    lines.clear();
    core.SetOption("sample_fmt", "list");
    ASSERT_EQ(lines.size(), static_cast<size_t>(AV_SAMPLE_FMT_NB) + 1);
    EXPECT_EQ(lines[1].text.rfind("u8", 0), 0u);
}

TEST_F(OptionHandlers, CropBands) {
    core.SetOption("s", "640x480");
    core.SetOption("croptop", "8");
    EXPECT_EQ(core.crop_top, 8);
    EXPECT_EQ(core.frame_height, 472);
    EXPECT_EQ(Fails("cropbottom", "472"), Vertical);
    EXPECT_EQ(core.crop_bottom, 0);
    core.SetOption("cropbottom", "0");
    core.SetOption("cropleft", "10");
    core.SetOption("cropright", "30");
    EXPECT_EQ(core.frame_width, 600);
    EXPECT_EQ(Fails("cropright", "600"), Horizontal);
    EXPECT_EQ(Fails("croptop", "3"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(Fails("cropbottom", "5"), "Bottom crop size must be a multiple of 2");
    EXPECT_EQ(Fails("cropleft", "7"), "Left crop size must be a multiple of 2");
    EXPECT_EQ(Fails("cropright", "9"), "Right crop size must be a multiple of 2");
    core.SetOption("croptop", "-1");  // ignored
    EXPECT_EQ(core.crop_top, 8);
    EXPECT_THROW(core.SetOption("croptop", "2.0"), EConvertError);
}

TEST_F(OptionHandlers, CropWithoutAPictureSizeFails) {
    EXPECT_EQ(Fails("cropleft", "0"), Horizontal);
    EXPECT_EQ(Fails("croptop", "0"), Vertical);
    core.SetOption("cropleft", "-1");
    core.SetOption("cropright", "-2147483648");
    EXPECT_EQ(core.frame_width, 0);
}

TEST_F(OptionHandlers, PadSizesAndColour) {
    core.SetOption("padtop", "4");
    core.SetOption("padbottom", "6");
    core.SetOption("padleft", "0");
    core.SetOption("padright", "8");
    EXPECT_EQ(core.pad_top, 4);
    EXPECT_EQ(core.pad_bottom, 6);
    EXPECT_EQ(core.pad_right, 8);
    EXPECT_EQ(Fails("padtop", "1"), "Top pad size must be a multiple of 2");
    EXPECT_EQ(Fails("padbottom", "3"), "Bottom pad size must be a multiple of 2");
    EXPECT_EQ(Fails("padleft", "5"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(Fails("padright", "2147483647"), "Right pad size must be a multiple of 2");
    core.SetOption("padtop", "-2");
    EXPECT_EQ(core.pad_top, 4);

    core.SetOption("padcolor", "255");  // pure red
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{76, 85, 255}));
    core.SetOption("padcolor", "0");
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{0, 128, 128}));
    core.SetOption("padcolor", "16777215");
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{255, 128, 128}));
    core.SetOption("padcolor", "-1");  // only the low 24 bits count
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{255, 128, 128}));
    core.SetOption("padcolor", std::to_string(0xFF0000));  // pure blue (0xBBGGRR)
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{29, 255, 107}));
    core.SetOption("padcolor", std::to_string(0x00FF00));  // pure green
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{150, 43, 21}));
}

TEST_F(OptionHandlers, QScale) {
    core.SetOption("qscale", "255");
    EXPECT_FLOAT_EQ(core.video_qscale, 255.0f);
    core.SetOption("qscale", "0.5");
    for (const char* bad : {"0", "256", "-1", "255.01"})
        EXPECT_EQ(Fails("qscale", bad), "qscale must be > 0.0 and <= 255") << bad;
    EXPECT_FLOAT_EQ(core.video_qscale, 0.5f);
    EXPECT_THROW(core.SetOption("qscale", "nan"), EConvertError);
}

std::string Numbers(int count, int first = 1) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(first + i);
    return text;
}

TEST_F(OptionHandlers, Matrices) {
    core.SetOption("intra_matrix", Numbers(64));
    ASSERT_EQ(core.intra_matrix.size(), 64u);
    EXPECT_EQ(core.intra_matrix[0], 1);
    EXPECT_EQ(core.intra_matrix[63], 64);
    EXPECT_TRUE(core.inter_matrix.empty());

    const std::string short_text = Numbers(63);
    EXPECT_EQ(Fails("inter_matrix", short_text), "Syntax error in matrix \"" + short_text + "\" at coeff 62");
    ASSERT_EQ(core.inter_matrix.size(), 64u);  // allocated and kept
    EXPECT_EQ(core.inter_matrix[62], 63);

    core.SetOption("inter_matrix", Numbers(64, 100) + ",junk and more");
    EXPECT_EQ(core.inter_matrix[0], 100);
    EXPECT_EQ(core.inter_matrix[63], 163);
    // Later use zero-fills again; low 16 bits of large numbers.
    core.SetOption("intra_matrix", "70000" + std::string(63, ','));
    EXPECT_EQ(core.intra_matrix[0], 70000 & 0xFFFF);
    EXPECT_EQ(core.intra_matrix[1], 0);
    EXPECT_EQ(Fails("intra_matrix", ""), "Syntax error in matrix \"\" at coeff 0");
    EXPECT_EQ(Fails("intra_matrix", "1;2;3"), "Syntax error in matrix \"1;2;3\" at coeff 0");
    core.SetOption("intra_matrix", "99999999999999999999999" + std::string(63, ','));
}

TEST_F(OptionHandlers, CodecNamesAndCopy) {
    core.SetOption("acodec", "copy");
    core.SetOption("acodec", "libmp3lame");
    EXPECT_EQ(core.audio_stream_copy, 1);  // a later name does not clear copy
    EXPECT_EQ(core.audio_codec_name, "libmp3lame");
    core.SetOption("acodec", "copy");
    EXPECT_EQ(core.audio_codec_name, "");
    core.SetOption("vcodec", "mpeg4");
    core.SetOption("vcodec", "");
    EXPECT_EQ(core.video_codec_name, "mpeg4");
    EXPECT_EQ(core.video_stream_copy, 0);
    core.SetOption("scodec", "copy");
    EXPECT_EQ(core.subtitle_stream_copy, 1);
    core.SetOption("scodec", "mov_text");
    EXPECT_EQ(core.subtitle_codec_name, "mov_text");
}

TEST_F(OptionHandlers, CodecTagsAreFourCharacters) {
    core.SetOption("vtag", "XVID");
    EXPECT_EQ(core.video_codec_tag, MKTAG('X', 'V', 'I', 'D'));
    core.SetOption("atag", std::string("\x01\x02\xff\x80", 4));
    EXPECT_EQ(core.audio_codec_tag, 0x80FF0201u);
    core.SetOption("atag", "");
    EXPECT_EQ(core.audio_codec_tag, 0x80FF0201u);
    for (const char* bad : {"abc", "abcde", " "}) {
        EXPECT_EQ(MessageOf<EAssertionFailed>([&] { core.SetOption("atag", bad); })
                      .rfind("audio tag parameter must be 4 chars", 0),
                  0u)
            << bad;
        EXPECT_EQ(MessageOf<EAssertionFailed>([&] { core.SetOption("vtag", bad); })
                      .rfind("video tag parameter must be 4 chars", 0),
                  0u);
    }
    // An assertion, not the core's own error class.
    try {
        core.SetOption("vtag", "ab");
        FAIL();
    } catch (const FFmpegException&) {
        FAIL() << "raised as FFmpegException";
    } catch (const EAssertionFailed&) {
    }
}

TEST_F(OptionHandlers, BitrateWarnsOnlyThroughTheOptionText) {
    Listen();
    core.SetOption("ab", "128");
    EXPECT_EQ(CarrierInt(Audio(), "b"), 128);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (TLogLine{1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"}));
    lines.clear();
    EXPECT_TRUE(core.SetGenericIntOption("ab", 128));
    EXPECT_TRUE(lines.empty());
    core.SetOption("b", "999");
    EXPECT_EQ(lines.size(), 1u);
    core.SetOption("vb", "1000");
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(CarrierInt(Video(), "b"), 1000);
    core.SetOption("vb", "");  // empty: nothing at all
    core.SetOption("ab", "lots");  // refused by the library: no warning
    EXPECT_EQ(lines.size(), 1u);
    core.verbosity = 0;
    core.SetOption("ab", "1");
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(OptionHandlers, DurationsAndDates) {
    core.SetOption("t", "3600");
    EXPECT_EQ(core.recording_time, 3600000000LL);
    EXPECT_EQ(core.expected_duration_ms, 3600000);
    core.SetOption("t", "0.0005");  // below a millisecond: nothing
    core.SetOption("t", "-5");
    EXPECT_EQ(core.recording_time, 3600000000LL);
    // Beyond the millisecond counter: the limit is kept whole, the total saturates.
    core.SetOption("t", "3000000");
    EXPECT_EQ(core.recording_time, 3000000000000LL);
    EXPECT_EQ(core.expected_duration_ms, INT_MAX);
    EXPECT_EQ(Fails("t", "abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(Fails("t", ""), "Invalid duration specification for t: ");
    core.SetRecordingTimeMs(1500);
    EXPECT_EQ(core.recording_time, 1500000);
    EXPECT_EQ(core.expected_duration_ms, 1500);
    core.SetRecordingTimeMs(0);
    EXPECT_EQ(core.expected_duration_ms, 1500);
    core.SetRecordingTimeMs(INT_MAX);
    EXPECT_EQ(core.recording_time, static_cast<int64_t>(INT_MAX) * 1000);

    core.SetOption("ss", "1:30");
    EXPECT_EQ(core.start_time, 90000000);
    core.SetOption("ss", "2.5");
    EXPECT_EQ(core.start_time, 2500000);
    EXPECT_EQ(Fails("ss", "1:x"), "Invalid duration specification for ss: 1:x");
    core.SetStartTimeUs(0);
    EXPECT_EQ(core.start_time, 2500000);
    core.SetStartTimeUs(7000);
    EXPECT_EQ(core.start_time, 7000);
    core.SetOption("itsoffset", "-2");
    EXPECT_EQ(core.input_ts_offset, -2000000);
    EXPECT_EQ(Fails("itsoffset", "%n%n"), "Invalid duration specification for itsoffset: %n%n");

    core.SetOption("timestamp", "2000-01-01 00:00:00Z");
    EXPECT_EQ(core.record_timestamp, 946684800);
    EXPECT_EQ(Fails("timestamp", "garbage"), "Invalid date specification for timestamp: garbage");
    EXPECT_EQ(core.record_timestamp, 946684800);
}

TEST_F(OptionHandlers, StreamMaps) {
    core.SetOption("map", "0:1");
    core.SetOption("map", "0.1:1.0");
    core.SetOption("map", "0x1:010");
    core.SetOption("map", "");
    core.SetOption("map", "2");
    core.SetOption("map", "a:b:c:d");
    core.SetOption("map", "99999999999999999999:-3");
    const std::vector<TStreamMap> expected = {
        {0, 1, 0, 1}, {0, 1, 1, 0}, {1, 8, 1, 8}, {0, 0, 0, 0}, {2, 0, 2, 0}, {0, 0, 0, 0}, {INT_MAX, -3, INT_MAX, -3}};
    EXPECT_EQ(core.stream_map, expected);
    while (core.stream_map.size() < MAX_STREAM_MAPS) core.SetOption("map", "0:0");
    EXPECT_EQ(Fails("map", "0:0"), "Too many stream maps (at most 400)");
    EXPECT_EQ(core.stream_map.size(), 400u);
}

TEST_F(OptionHandlers, MetadataMapsAndTags) {
    core.SetOption("map_meta_data", "1:0");
    core.SetOption("map_meta_data", "3");
    EXPECT_EQ(core.metadata_map, (std::vector<TMetadataMap>{{1, 0}, {3, 0}}));
    while (core.metadata_map.size() < MAX_METADATA_MAPS) core.SetOption("map_meta_data", "0:0");
    EXPECT_EQ(Fails("map_meta_data", "0:0"), "Too many metadata maps (at most 20)");

    core.SetOption("metadata", "title=a=b");
    core.SetOption("metadata", "=empty key");
    core.AddMetadata("year", "2001");
    EXPECT_EQ(Fails("metadata", "no equals"), "Missing =");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"title", "a=b"}, {"", "empty key"}, {"year", "2001"}};
    EXPECT_EQ(core.metadata, expected);
}

TEST_F(OptionHandlers, TimestampScales) {
    core.SetOption("itsscale", "1:1.5");
    EXPECT_DOUBLE_EQ(core.input_ts_scales[0][1], 1.5);
    core.SetOption("itsscale", "19:2");
    EXPECT_DOUBLE_EQ(core.input_ts_scales[0][19], 2.0);
    EXPECT_EQ(Fails("itsscale", "20:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Fails("itsscale", "-1:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Fails("itsscale", "1:nan"), "Invalid timestamp scale: 1:nan");
    EXPECT_EQ(Fails("itsscale", "1:1e999"), "Invalid timestamp scale: 1:1e999");
    core.SetOption("itsscale", "2");  // no scale: 0, none
    EXPECT_DOUBLE_EQ(core.input_ts_scales[0][2], 0.0);
    core.input_file_count = 3;
    core.SetOption("itsscale", "0x2,0.25");
    EXPECT_DOUBLE_EQ(core.input_ts_scales[3][2], 0.25);
    core.input_file_count = MAX_FILES;  // no room for another input
    EXPECT_EQ(Fails("itsscale", "0:1"), "input file index over MAX_FILES(20)");
    core.input_file_count = 0;
}

TEST_F(OptionHandlers, Pass) {
    core.SetOption("pass", "2");
    EXPECT_EQ(core.pass, 2);
    EXPECT_EQ(Fails("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(Fails("pass", "0"), "pass number can be only 1 or 2");
    EXPECT_EQ(core.pass, 2);
}

TEST_F(OptionHandlers, VstatsNameInTheProgramFolder) {
    core.SetOption("vstats", "ignored");
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(n, 0);
    std::string folder(exe, static_cast<size_t>(n));
    folder.erase(folder.rfind('/') + 1);
    ASSERT_EQ(core.vstats_file_name.rfind(folder, 0), 0u) << core.vstats_file_name;
    EXPECT_TRUE(std::regex_match(core.vstats_file_name.substr(folder.size()), std::regex("vstats_[0-2][0-9][0-5][0-9][0-6][0-9]\\.log")))
        << core.vstats_file_name;
    core.SetOption("vstats_file", "");
    EXPECT_EQ(core.vstats_file_name, "");
}

TEST_F(OptionHandlers, BitstreamFilters) {
    core.SetOption("vbsf", "h264_mp4toannexb");
    core.SetOption("absf", "aac_adtstoasc=ignored=args");
    core.SetOption("sbsf", "null");
    core.SetOption("vbsf", "=x");
    core.SetOption("vbsf", "");
    EXPECT_EQ(core.video_bsf_list, std::vector<std::string>{"h264_mp4toannexb"});
    EXPECT_EQ(core.audio_bsf_list, std::vector<std::string>{"aac_adtstoasc"});
    EXPECT_EQ(core.subtitle_bsf_list, std::vector<std::string>{"null"});
    EXPECT_EQ(Fails("vbsf", "no_such_bsf"), "Unknown bitstream filter no_such_bsf");
    EXPECT_EQ(Fails("absf", " null "), "Unknown bitstream filter null");
    EXPECT_EQ(Fails("sbsf", "%s%s%s%s=x"), "Unknown bitstream filter %s%s%s%s=x");
    EXPECT_EQ(core.video_bsf_list.size(), 1u);
}

TEST_F(OptionHandlers, FrameHooksAreNotAvailable) {
    EXPECT_EQ(Fails("vhook", "libhook.so|-a 1"), "Failed to add video hook function: libhook.so|-a 1");
    EXPECT_FALSE(core.hooks_in_use);
}

TEST_F(OptionHandlers, HookRangesSortedByEnd) {
    core.SetHookRanges({{5000000, 9000000}, {-1000, 3000000}, {1000000, 2000000}});
    EXPECT_EQ(core.hook_ranges, (std::vector<THookRange>{{1000000, 2000000}, {-1000, 3000000}, {5000000, 9000000}}));
    core.SetHookRanges({});
    EXPECT_TRUE(core.hook_ranges.empty());
}

}  // namespace
