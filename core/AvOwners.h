#pragma once
// Owners of the library objects the transcode uses, each released through the
// binding; and a byte buffer from av_malloc that only grows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "binding/Entries.h"

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
struct TSwsFree {
    void operator()(SwsContext* p) const { swscale.sws_freeContext(p); }
};
struct TFilterGraphFree {
    void operator()(AVFilterGraph* p) const { avfilter.avfilter_graph_free(&p); }
};
// A chapter not yet handed to its container; the container frees the ones it holds.
struct TChapterFree {
    void operator()(AVChapter* p) const {
        avutil.av_dict_free(&p->metadata);
        avutil.av_free(p);
    }
};
struct TFileClose {
    void operator()(FILE* f) const { myutil.fclose(f); }
};
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFree>;
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfFree>;
using TChapterPtr = std::unique_ptr<AVChapter, TChapterFree>;
using TFilePtr = std::unique_ptr<FILE, TFileClose>;
using TSwsPtr = std::unique_ptr<SwsContext, TSwsFree>;
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

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

