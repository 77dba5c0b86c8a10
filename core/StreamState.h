#pragma once
// The working tables of one transcode: a record per input file, per input
// stream and per output stream, plus the owners of the library objects they use.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "binding/Entries.h"

// ---- owners of library objects ----
struct TSwrFree {
    void operator()(SwrContext* p) const { swresample.swr_free(&p); }
};
struct TAudioFifoFree {
    void operator()(AVAudioFifo* p) const { avutil.av_audio_fifo_free(p); }
};
struct TFrameFree {
    void operator()(AVFrame* p) const { avutil.av_frame_free(&p); }
};
struct TPacketFree {
    void operator()(AVPacket* p) const { avcodec.av_packet_free(&p); }
};
struct TBsfFree {
    void operator()(AVBSFContext* p) const { avcodec.av_bsf_free(&p); }
};
struct TFileClose {
    void operator()(FILE* f) const { myutil.fclose(f); }
};
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFree>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfFree>;
using TFilePtr = std::unique_ptr<FILE, TFileClose>;

// A byte buffer from av_malloc that only grows; its contents live for one call.
class TAvBuffer {
public:
    TAvBuffer() = default;
    TAvBuffer(const TAvBuffer&) = delete;
    TAvBuffer& operator=(const TAvBuffer&) = delete;
    ~TAvBuffer() { Release(); }

    // Room for at least n bytes (old contents are not kept); nullptr when out of memory.
    uint8_t* Reserve(size_t n) {
        if (n > size_) {
            Release();
            data_ = static_cast<uint8_t*>(avutil.av_malloc(n));
            size_ = data_ ? n : 0;
        }
        return data_;
    }
    // Room for at least n bytes keeping the old contents.
    uint8_t* Grow(size_t n) {
        if (n > size_) {
            auto* p = static_cast<uint8_t*>(avutil.av_realloc(data_, n));
            if (!p) return nullptr;
            data_ = p;
            size_ = n;
        }
        return data_;
    }
    void Release() {
        if (data_) avutil.av_free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

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
    int frame_number = 0;
    TInputStreamState* sync_input = nullptr;
    int64_t sample_clock = 0;        // audio: samples per channel accounted for
    // Output position reached: end of the last packet handed to the muxer, in
    // the stream's time base (AV_NOPTS_VALUE before the first).
    int64_t cur_pts = AV_NOPTS_VALUE;

    // audio
    int resample_needed = 0;
    TSwrPtr resampler;               // rate and channel change (and format)
    int convert_pair = -6;
    TSwrPtr converter;               // format change only
    TAudioFifoPtr sample_fifo;       // samples in the encoder's format awaiting a whole frame
    TFramePtr enc_frame;             // reused frame handed to the encoder
    int enc_frame_capacity = 0;      // samples per channel its buffer holds
    int64_t enc_next_pts = 0;        // samples handed to the encoder so far

    // video: quality and plane errors of the last encoded picture
    float quality = 0;
    double frame_error[3] = {0, 0, 0};

    // bitstream filters in chain order, made once the codec parameters are known
    std::vector<TBsfPtr> bsfs;
    TFilePtr pass_log_file;
    std::vector<char> pass_log_buffer;  // second-pass statistics handed to the encoder
};

// One codec that was opened and not yet closed. The node keeps the context and
// the flag so that the clean-up can close it after the tables are gone.
struct TOpenCodec {
    const void* record = nullptr;    // the stream record that opened it
    AVCodecContext* context = nullptr;
    bool needed = false;             // encoding_needed / decoding_needed
};
