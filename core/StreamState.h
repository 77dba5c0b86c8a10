#pragma once
// The working tables of one transcode: a record per input file, per input
// stream and per output stream.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "binding/Entries.h"
#include "core/AvOwners.h"
#include "core/EncoderWorker.h"
#include "core/Pulldown.h"

// ---- table records ----
struct TInputFileState {
    int eof_reached = 0;
    int ist_index = 0;   // first stream of the file in ist_table
    int nb_streams = 0;
};

struct TInputStreamState {
    int file_index = 0;
    int index = 0;                   // stream index inside the file
    AVStream* stream = nullptr;
    AVCodecContext* dec = nullptr;   // decoder context, owned by the input table
    int discard = 1;                 // 1 until an output stream takes it
    int decoding_needed = 0;
    int64_t wallclock_start = 0;     // microseconds, for "re"
    int64_t next_pts = AV_NOPTS_VALUE;  // microseconds
    int64_t pts = 0;                 // microseconds
    int at_start = 1;
    // Rate and channel count of the last decoded block (packed s16).
    int block_rate = 0;
    int block_channels = 0;
    // Decoded audio leaves the decoder as packed signed 16-bit at the decoder's
    // own rate and channel count; this converter does that when the decoder
    // hands out another format. Made on the first frame, remade when the
    // decoder's format changes.
    TSwrPtr to_s16;
    // video: the pictures pre-processing works in (deinterlacing, hooks),
    // taken in turn: the encoder may still hold the last few, and once there
    // are enough none is allocated again; and the quality the decoder gave
    // the last picture (lambda units).
    std::vector<TFramePtr> hook_pictures;
    float quality = 0;
    int64_t grid_origin = AV_NOPTS_VALUE;  // microseconds: the first picture's time, for GridTime
    int to_s16_format = -1;
    int to_s16_rate = 0;
    int to_s16_channels = 0;
};

struct TOutputStreamState {
    int file_index = 0;
    int index = 0;                   // stream index inside the output file
    int source_index = 0;            // in ist_table
    AVStream* stream = nullptr;
    AVCodecContext* enc = nullptr;   // encoder context, owned by the output table
    bool stream_copy = false;
    int encoding_needed = 0;
    // Frames (or copied packets, or audio packets) written.
    std::atomic<int> frame_number{0};
    TInputStreamState* sync_input = nullptr;
    int64_t sample_clock = 0;        // audio: samples per channel accounted for
    // Output position reached: end of the last packet handed to the muxer, in
    // the stream's time base (AV_NOPTS_VALUE before the first).
    std::atomic<int64_t> cur_pts{AV_NOPTS_VALUE};

    // audio
    int resample_needed = 0;
    TSwrPtr resampler;               // rate and channel change (and format)
    int convert_pair = -6;
    TSwrPtr converter;               // format change only
    int swr_in_channels = 0;         // the input both were made for
    int swr_in_rate = 0;
    TAudioFifoPtr sample_fifo;       // samples in the encoder's format awaiting a whole frame
    TFramePtr enc_frame;             // reused frame handed to the encoder
    int enc_frame_capacity = 0;      // samples per channel its buffer holds
    int64_t enc_next_pts = 0;        // samples handed to the encoder so far
    int frames_submitted = 0;        // frames handed to the encoder so far
    int64_t dv_sound_frames = 0;     // DV: the frames' worth of sound handed out so far

    // video: quality and plane errors of the last encoded picture
    float quality = 0;
    double frame_error[3] = {0, 0, 0};
    int pict_type = 0;                    // AVPictureType of the last encoded picture
    // video: sample_clock above counts frames in the encoder's time base.
    int crop_needed = 0;
    int crop_top = 0, crop_left = 0;      // pixels cut from the decoded picture
    int resize_needed = 0;
    TSwsPtr resizer;                      // decoded (cropped) size and format -> encoder's
    int resize_height = 0;                // source rows given to the scaler
    int resize_width = 0;                 // the source size and format the scaler was made for
    int resize_format = -1;
    int pad_needed = 0;
    int pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;  // pixels
    TFramePtr work_picture;               // scaled or padded picture of the encoder's size and format
    // Constant-rate outputs: the picture held until the next one tells which
    // slots it is nearest to; its time and length in encoder ticks, and the
    // quality the decoder gave it.
    TFramePtr last_picture;
    bool held = false;
    double held_at = 0;
    double held_span = 0;
    float held_quality = 0;
    TFramePtr send_picture;               // the reference handed to the encoder, reused
    bool sent_fields = false;             // the last picture sent was interlaced or coded as fields
    TFramePtr crop_picture;               // the decoded picture seen through the crop bands
    // The filter chain of this stream ("vfilters"): buffer source -> ... -> buffer sink.
    TFilterGraphPtr filter_graph;
    AVFilterContext* input_filter = nullptr;   // owned by filter_graph
    AVFilterContext* output_filter = nullptr;  // owned by filter_graph
    TFramePtr filtered_picture;           // reused for each picture pulled from the chain
    int filter_width = 0, filter_height = 0, filter_format = -1;  // the pictures the chain takes

    // subtitles: the empty DVB page that clears the last one shown, held back
    // until the next page (which may come first and replace it) or the end
    TPacketPtr pending_clear;

    // bitstream filters in chain order, made once the codec parameters are known
    std::vector<TBsfPtr> bsfs;
    std::vector<TPacketPtr> bsf_kept;  // per filter: the packet it was given, until it answered
    TFilePtr pass_log_file;
    TPulldownState pulldown;  // used when soft_pulldown is set

    // Encodes on a thread of its own when set; declared last so that it stops
    // before anything it uses goes away.
    std::unique_ptr<TEncoderWorker> encoder_worker;
};

// One codec that was opened and not yet closed. The node keeps the context and
// the flag so that the clean-up can close it after the tables are gone.
struct TOpenCodec {
    const void* record = nullptr;    // the stream record that opened it
    AVCodecContext* context = nullptr;
    bool needed = false;             // encoding_needed / decoding_needed
};
