#pragma once
// What lives for one run of a task: made when its transcode starts and dropped,
// as one object, when the transcode ends however it ends. The task keeps only
// its option values, its files and what the run reports after it.
#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "core/AvOwners.h"
#include "core/EncoderWorker.h"
#include "core/StreamState.h"
#include "hooks/Bitmap.h"

// Answer of the before-hook callback.
enum THookAction : int { haContinue = 0, haIgnore = 1, haStop = 2 };

// A picture turned into a 24-bit bitmap and back, the scalers kept between pictures.
struct TRgbContext {
    TBitmap bitmap;
    TSwsPtr to_rgb, from_rgb;
};

// Touched by the task's worker thread only, except where a field says otherwise.
struct TRunState {
    TRunState() = default;
    TRunState(const TRunState&) = delete;
    TRunState& operator=(const TRunState&) = delete;
    // The stream tables first (an encoder thread stops before anything it uses
    // goes), then the codecs the run opened and did not close.
    ~TRunState();

    AVFormatContext** outputs = nullptr;  // the outputs of the transcode, in opening order

    // ---- stream tables ----
    std::vector<TInputFileState> file_table;
    std::vector<std::unique_ptr<TInputStreamState>> ist_table;
    std::vector<std::unique_ptr<TOutputStreamState>> ost_table;
    // Codecs opened and not yet closed, newest first; the end of the run closes them.
    std::list<TOpenCodec> open_encoders;
    std::list<TOpenCodec> open_decoders;

    // ---- clocks and the report's counters ----
    int64_t timer_start = 0;       // microseconds of the libraries' wall clock
    int64_t last_report_time = 0;  // microseconds
    int64_t audio_size = 0, video_size = 0, extra_size = 0;  // bytes
    int dup_frames = 0, drop_frames = 0;  // extra copies of pictures; pictures left out
    std::array<int, 52> qp_histogram{};
    TFilePtr vstats_file;  // open while the run writes video statistics
    // Bytes written to the first output so far (the reading thread writes every packet).
    std::atomic<int64_t> first_output_pos{0};
    // The inputs' declared length (microseconds; 0 = none trusted). Output
    // running past twice that and a minute more means the header lies (a
    // claimed rate far from the data's): the run stops instead of writing
    // without bound.
    int64_t declared_input_us = 0;

    // ---- buffers reused from packet to packet ----
    TFramePtr decoded_frame;
    TPacketPtr encoded_packet;   // every encoded video packet
    TPacketBatch audio_packets;  // what the audio encoder gave, when it runs on the reading thread
    TPacketPtr copy_packet;      // every copied packet
    TAvBuffer samples_buffer;    // decoded audio as packed s16
    TAvBuffer audio_buffer;      // resampler output
    TAvBuffer silence_buffer;    // a block with leading silence
    // Encoded subtitles, 65536 bytes once the first subtitle is encoded.
    TAvBuffer subtitle_buffer;
    TPacketPtr subtitle_packet;  // the packet that carries it, made with it

    // ---- frame hooks and preview ----
    THookAction hook_action = haContinue;  // kept from picture to picture
    int hook_frame_count = 0;              // pictures through pre-processing
    int hook_range_pos = 0;                // the first hook time range not yet over
    TRgbContext custom_rgb;                // the custom hook's bitmap
    TRgbContext preview_rgb;               // the preview's bitmap
    int64_t last_preview_time = 0;         // microseconds of the preview clock
};
