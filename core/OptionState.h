#pragma once
// Everything the options of a task fill, with the values a freshly
// re-initialised core starts from. A plain value type: resetting the core's
// options is one assignment of a default-constructed TOptionState.
#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
}

constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;
constexpr int MAX_STREAM_MAPS = 400;
constexpr int MAX_METADATA_MAPS = 20;

// Indices of max_frames.
enum TMaxFramesIndex : int { mfVideo = 0, mfAudio = 1, mfData = 2, mfSubtitle = 3 };

struct TStreamMap {
    int file_index = 0;
    int stream_index = 0;
    int sync_file_index = 0;
    int sync_stream_index = 0;
    bool operator==(const TStreamMap&) const = default;
};

struct TMetadataMap {
    int out_file = 0;
    int in_file = 0;
    bool operator==(const TMetadataMap&) const = default;
};

// A time range (microseconds) in which the frame hook plug-ins run.
struct THookRange {
    int64_t start = 0;
    int64_t end = 0;
    bool operator==(const THookRange&) const = default;
};

struct TOptionState {
    const AVInputFormat* forced_input_format = nullptr;
    const AVOutputFormat* forced_output_format = nullptr;
    int frame_width = 0;
    int frame_height = 0;
    float frame_aspect = 0;          // 0 = unset
    int frame_pix_fmt = -1;
    int audio_sample_fmt = -1;
    int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;
    std::array<int, 3> pad_color{16, 128, 128};  // Y, U, V
    int crop_top = 0, crop_bottom = 0, crop_left = 0, crop_right = 0;
    std::array<int, 4> max_frames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};  // TMaxFramesIndex
    AVRational frame_rate{0, 0};     // 0/0 = unset
    float video_qscale = 0;          // 0 = unset
    std::vector<uint16_t> intra_matrix;  // empty = none, else 64 coefficients
    std::vector<uint16_t> inter_matrix;
    std::string rc_override_text;
    bool video_disabled = false;
    int video_discard = 0;
    std::string video_codec_name;    // empty = none
    unsigned int video_codec_tag = 0;
    bool same_quality = false;
    bool deinterlace = false;
    int top_field_first = -1;
    int me_threshold = 0;
    int intra_dc_precision = 8;
    bool loop_input = false;
    int loop_output = -1;
    bool qp_hist_enabled = false;
    std::string video_filters;
    bool filters_in_use = false;
    bool intra_only = false;
    int audio_sample_rate = 44100;
    int64_t audio_channel_layout = 0;
    float audio_qscale = -99999;     // -99999 = unset
    bool audio_disabled = false;
    int audio_channels = 2;
    std::string audio_codec_name;    // empty = none
    unsigned int audio_codec_tag = 0;
    std::string audio_language;
    bool subtitle_disabled = false;
    std::string subtitle_codec_name; // empty = none
    std::string subtitle_language;
    float mux_preload = 0.5f;        // seconds
    float mux_max_delay = 0.7f;      // seconds
    int64_t recording_time = INT64_MAX;
    int64_t start_time = 0;
    int64_t record_timestamp = 0;    // seconds
    int64_t input_ts_offset = 0;
    std::vector<std::pair<std::string, std::string>> metadata;  // tags of the next output file
    bool hex_dump = false;
    bool packet_dump = false;
    bool psnr = false;
    int pass = 0;
    std::string pass_log_prefix;
    int audio_stream_copy = 0;
    int video_stream_copy = 0;
    int subtitle_stream_copy = 0;
    int video_sync_method = -1;
    int audio_sync_method = 0;
    float audio_drift_threshold = 0.1f;
    bool copy_ts = false;
    bool shortest = false;
    bool overwrite_output = false;   // a finished output may replace an existing file of its name
    int global_header_mode = 0;      // bit 1: force global headers, bit 2: local headers
    std::string vstats_file_name;    // empty = none
    int program_id = 0;
    int copy_initial_nonkey = 0;
    bool rate_emulation = false;
    int video_channel = 0;
    std::string tv_standard;         // empty = none
    int audio_volume = 256;
    bool exit_on_error = false;
    bool hooks_in_use = false;
    int verbosity = 1;
    int thread_count = 1;            // of each decoder and encoder; 0 = one per processor
    int picture_thread_count = 0;    // of picture decoders and encoders: the same once threads is given
    bool input_sync = false;
    int64_t file_size_limit = 0;     // bytes, 0 = no limit
    bool force_fps = false;
    int image2_forced = 0;
    float dts_delta_threshold = 10;  // seconds
    int scaler_flags = 4;
    bool soft_pulldown = false;      // MPEG-2 video of 24000/1001 written as 3:2 pulldown (core/Pulldown.h)
    // Bitstream filter names for the next stream of each type, in chain order.
    std::vector<std::string> video_bsf_list;
    std::vector<std::string> audio_bsf_list;
    std::vector<std::string> subtitle_bsf_list;
    int expected_duration_ms = -1;
    std::string last_error;

    // Maps ("map", "map_meta_data"); the counts are the sizes.
    std::vector<TStreamMap> stream_map;
    std::vector<TMetadataMap> metadata_map;
    // "itsscale": [input file][stream], 0 = none; filled for the file opened next.
    std::array<std::array<double, MAX_STREAMS>, MAX_FILES> input_ts_scales{};
    // Frame hook time ranges, sorted by end time.
    std::vector<THookRange> hook_ranges;
    bool discard_stopped_output = false;  // a stopped run's shorter file is never placed under the output's name
    // The record of the input the next output is made from (core/SourceRecord.h,
    // state "?"), and the tag that carries it; no tag: a sidecar. Empty: none.
    std::string source_record;
    std::string source_tag;
};
