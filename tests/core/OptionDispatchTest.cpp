// SetOption: the table's names, kinds and conversions, and the fall-through of
// unknown names to the generic options.
#include <set>

#include "core/Conversions.h"
#include "tests/core/OptionFixture.h"

using namespace optiontest;

namespace {

class OptionDispatch : public OptionTest {};

TEST_F(OptionDispatch, TableNamesAreUniqueAndInLookupOrder) {
    const auto names = TCustomFFmpeg::OptionNames();
    const std::set<std::string> unique(names.begin(), names.end());
    EXPECT_EQ(unique.size(), names.size());
    ASSERT_GE(names.size(), 100u);
    EXPECT_EQ(names.front(), "L");
    EXPECT_EQ(names.back(), "spre");
    for (const char* name : {"f", "map", "t", "threads", "vb", "newvideo", "ab", "newaudio", "newsubtitle", "sbsf",
                             "target", "v", "vhook", "padcolor", "copyinkf"})
        EXPECT_TRUE(unique.count(name)) << name;
}

TEST_F(OptionDispatch, NotesOnlyLogWithAReceiver) {
    const std::vector<std::string> notes = {"L", "h", "version", "formats", "i", "benchmark", "apre", "vpre", "spre"};
    for (const auto& name : notes) core.SetOption(name, "whatever");
    EXPECT_TRUE(lines.empty());
    Listen();
    for (const auto& name : notes) core.SetOption(name, "x");
    ASSERT_EQ(lines.size(), notes.size());
    for (size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(lines[i], (TLogLine{1, "Do nothing: option - " + notes[i]}));
    // Verbosity 0 keeps level-1 notes out of the log.
    lines.clear();
    core.verbosity = 0;
    core.SetOption("i", "");
    EXPECT_TRUE(lines.empty());
    // Nothing of the state moved.
    EXPECT_TRUE(core.generic_options.names.empty());
    EXPECT_EQ(core.forced_input_format, nullptr);
}

TEST_F(OptionDispatch, FlagIsTrueUnlessExactlyZero) {
    core.SetOption("vn", "0");
    EXPECT_FALSE(core.video_disabled);
    for (const char* value : {"", "1", "no", "00", " 0"}) {
        core.video_disabled = false;
        core.SetOption("vn", value);
        EXPECT_TRUE(core.video_disabled) << '"' << value << '"';
    }
    core.SetOption("an", "");
    core.SetOption("sn", "1");
    core.SetOption("shortest", "0");
    EXPECT_TRUE(core.audio_disabled);
    EXPECT_TRUE(core.subtitle_disabled);
    EXPECT_FALSE(core.shortest);
}

TEST_F(OptionDispatch, SetKindTurnsOnWhateverTheValue) {
    core.SetOption("copyts", "0");
    core.SetOption("xerror", "0");
    core.SetOption("y", "0");
    EXPECT_TRUE(core.copy_ts);
    EXPECT_TRUE(core.overwrite_output);
    EXPECT_TRUE(core.exit_on_error);
}

TEST_F(OptionDispatch, NamesMatchExactlyAndCaseSensitively) {
    Listen();
    for (const char* name : {"VN", "-vn", " vn", "vn ", "Vn", "v n", "", "vnx", "AB", "-ab"}) {
        EXPECT_NO_THROW(core.SetOption(name, "1")) << name;
    }
    EXPECT_FALSE(core.video_disabled);
    EXPECT_TRUE(core.generic_options.names.empty());
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(LibLinesSoFar().empty());
}

TEST_F(OptionDispatch, ThreadsOutsideItsRangeIsRefused) {
    for (const char* value : {"17", "-1", "1000"})
        EXPECT_EQ(MessageOf<FFmpegException>([&] { core.SetOption("threads", value); }),
                  "threads must be from 0 (one per processor) to 16")
            << value;
    EXPECT_THROW(core.SetOption("threads", ""), EConvertError);
    EXPECT_NO_THROW(core.SetOption("threads", "0"));
    EXPECT_NO_THROW(core.SetOption("threads", "16"));
}

TEST_F(OptionDispatch, IntegerFieldsConvertTheWholeValue) {
    struct Row {
        const char* name;
        int TOptionState::*field;
    };
    const Row rows[] = {{"loop_output", &TOptionState::loop_output},
                        {"vsync", &TOptionState::video_sync_method},
                        {"async", &TOptionState::audio_sync_method},
                        {"vglobal", &TOptionState::global_header_mode},
                        {"programid", &TOptionState::program_id},
                        {"copyinkf", &TOptionState::copy_initial_nonkey},
                        {"vdt", &TOptionState::video_discard},
                        {"me_threshold", &TOptionState::me_threshold},
                        {"top", &TOptionState::top_field_first},
                        {"dc", &TOptionState::intra_dc_precision},
                        {"vol", &TOptionState::audio_volume},
                        {"vc", &TOptionState::video_channel}};
    for (const Row& row : rows) {
        core.SetOption(row.name, "-7");
        EXPECT_EQ(core.*row.field, -7) << row.name;
        core.SetOption(row.name, "+12");
        EXPECT_EQ(core.*row.field, 12) << row.name;
        for (const char* bad : {"", "12x", " 12", "12 ", "1.5", "x", "2147483648", "--1", "+-1", "0x10"}) {
            EXPECT_EQ(MessageOf<EConvertError>([&] { core.SetOption(row.name, bad); }),
                      std::string("'") + bad + "' is not a valid integer value")
                << row.name << " " << bad;
            EXPECT_EQ(core.*row.field, 12) << row.name;
        }
    }
    core.SetOption("dframes", "5");
    core.SetOption("vframes", "6");
    core.SetOption("aframes", "7");
    EXPECT_EQ(core.max_frames, (std::array<int, 4>{6, 7, 5, INT_MAX}));
    EXPECT_THROW(core.SetOption("vframes", "many"), EConvertError);
}

TEST_F(OptionDispatch, Int64AndFloatFields) {
    core.SetOption("fs", "9000000000");
    EXPECT_EQ(core.file_size_limit, 9000000000LL);
    EXPECT_EQ(MessageOf<EConvertError>([&] { core.SetOption("fs", "9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");

    struct Row {
        const char* name;
        float TOptionState::*field;
    };
    const Row rows[] = {{"adrift_threshold", &TOptionState::audio_drift_threshold},
                        {"dts_delta_threshold", &TOptionState::dts_delta_threshold},
                        {"aq", &TOptionState::audio_qscale},
                        {"muxdelay", &TOptionState::mux_max_delay},
                        {"muxpreload", &TOptionState::mux_preload}};
    for (const Row& row : rows) {
        core.SetOption(row.name, "-2.5");
        EXPECT_FLOAT_EQ(core.*row.field, -2.5f) << row.name;
        core.SetOption(row.name, "3e2");
        EXPECT_FLOAT_EQ(core.*row.field, 300.0f) << row.name;
        for (const char* bad : {"", "1,5", "1.5x", " 1", "nan", "inf", "-inf", "1e50", "x"}) {
            EXPECT_EQ(MessageOf<EConvertError>([&] { core.SetOption(row.name, bad); }),
                      std::string("'") + bad + "' is not a valid floating point value")
                << row.name << " " << bad;
        }
        EXPECT_FLOAT_EQ(core.*row.field, 300.0f) << row.name;
    }
}

TEST_F(OptionDispatch, TextFieldsAreCopiedAsGiven) {
    core.SetOption("rc_override", "0,10,2/20,30,-1");
    core.SetOption("passlogfile", " log ");
    core.SetOption("alang", "eng");
    core.SetOption("slang", "fra");
    core.SetOption("tvstd", "pal");
    core.SetOption("vstats_file", "stats.log");
    EXPECT_EQ(core.rc_override_text, "0,10,2/20,30,-1");
    EXPECT_EQ(core.pass_log_prefix, " log ");
    EXPECT_EQ(core.audio_language, "eng");
    EXPECT_EQ(core.subtitle_language, "fra");
    EXPECT_EQ(core.tv_standard, "pal");
    EXPECT_EQ(core.vstats_file_name, "stats.log");
    core.SetOption("vfilters", "crop=10:10");
    core.SetOption("vfilters", "");
    EXPECT_EQ(core.video_filters, "crop=10:10");
}

TEST_F(OptionDispatch, AllFlagRowsReachTheirFields) {
    struct Row {
        const char* name;
        bool TOptionState::*field;
    };
    const Row rows[] = {{"dump", &TOptionState::packet_dump},      {"hex", &TOptionState::hex_dump},
                        {"re", &TOptionState::rate_emulation},     {"loop_input", &TOptionState::loop_input},
                        {"intra", &TOptionState::intra_only},      {"sameq", &TOptionState::same_quality},
                        {"deinterlace", &TOptionState::deinterlace}, {"psnr", &TOptionState::psnr},
                        {"qphist", &TOptionState::qp_hist_enabled}, {"force_fps", &TOptionState::force_fps},
                        {"isync", &TOptionState::input_sync}};
    for (const Row& row : rows) {
        EXPECT_FALSE(core.*row.field) << row.name;
        core.SetOption(row.name, "");
        EXPECT_TRUE(core.*row.field) << row.name;
        core.SetOption(row.name, "0");
        EXPECT_FALSE(core.*row.field) << row.name;
    }
}

TEST_F(OptionDispatch, SampleRateAndChannelsTakeOnlyPositiveValues) {
    core.SetOption("ar", "22050");
    core.SetOption("ac", "1");
    core.SetOption("ar", "0");
    core.SetOption("ac", "-2");
    EXPECT_EQ(core.audio_sample_rate, 22050);
    EXPECT_EQ(core.audio_channels, 1);
    EXPECT_THROW(core.SetOption("ar", "44.1k"), EConvertError);
    // Volume and mux timings through the text store any value; the record setters filter.
    core.SetOption("vol", "-3");
    EXPECT_EQ(core.audio_volume, -3);
    core.SetVolume(-1);
    EXPECT_EQ(core.audio_volume, -3);
    core.SetVolume(0);
    EXPECT_EQ(core.audio_volume, 0);
    core.SetMuxDelay(-1);
    core.SetMuxPreload(0);
    EXPECT_FLOAT_EQ(core.mux_max_delay, 0.7f);
    EXPECT_FLOAT_EQ(core.mux_preload, 0.5f);
    core.SetMuxDelay(2);
    EXPECT_FLOAT_EQ(core.mux_max_delay, 2.0f);
    core.SetProgramId(-1);
    EXPECT_EQ(core.program_id, 0);
    core.SetProgramId(3);
    EXPECT_EQ(core.program_id, 3);
}

TEST_F(OptionDispatch, VerbositySetsCoreLibraryAndCaptureThreshold) {
    core.SetOption("v", "3");
    EXPECT_EQ(core.verbosity, 3);
    EXPECT_EQ(LogThreshold.load(), 3);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);
    core.SetOption("v", "-1");
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_QUIET);
    core.SetVerbosity(0);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_ERROR);
    core.SetVerbosity(1);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_INFO);
    EXPECT_EQ(LogThreshold.load(), 1);
    EXPECT_THROW(core.SetOption("v", "debug"), EConvertError);
    EXPECT_EQ(core.verbosity, 1);
}

TEST_F(OptionDispatch, ResetRestoresEveryDefault) {
    core.SetOption("s", "640x480");
    core.SetOption("acodec", "copy");
    core.SetOption("map", "0:1");
    core.SetOption("ab", "64000");
    core.SetOption("intra_matrix", std::string(63 * 2, ',') + "1");
    core.ResetOptionState();
    const TOptionState defaults;
    EXPECT_EQ(core.frame_width, defaults.frame_width);
    EXPECT_EQ(core.audio_stream_copy, 0);
    EXPECT_TRUE(core.stream_map.empty());
    EXPECT_TRUE(core.intra_matrix.empty());
    EXPECT_TRUE(core.generic_options.names.empty());
    EXPECT_EQ(CarrierInt(Audio(), "b"), DefaultBitRate());
    EXPECT_EQ(core.audio_sample_rate, 44100);
    EXPECT_EQ(core.audio_channels, 2);
    EXPECT_FLOAT_EQ(core.audio_qscale, -99999.0f);
    EXPECT_EQ(core.recording_time, INT64_MAX);
    EXPECT_EQ(core.expected_duration_ms, -1);
    EXPECT_EQ(core.pad_color, (std::array<int, 3>{16, 128, 128}));
}

}  // namespace
