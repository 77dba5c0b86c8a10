#pragma once
// The core's opened input and output files. Every library object here is owned
// by the record that holds it, so an entry that is reset or a core that is
// destroyed releases its containers, codec contexts and byte streams.
//
// The linked libraries keep no codec context inside a stream any more, so each
// stream's decoder (input) or encoder (output) context lives beside its
// container, at the same stream index.
#include <memory>
#include <string>
#include <vector>

#include "binding/Entries.h"

struct TCodecContextFree {
    void operator()(AVCodecContext* c) const {
        if (c && avcodec.avcodec_free_context) avcodec.avcodec_free_context(&c);
    }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;

struct TInputContextClose {
    void operator()(AVFormatContext* c) const {
        if (c && avformat.avformat_close_input) avformat.avformat_close_input(&c);
    }
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextClose>;

// A format context that is not (yet) an opened input: freed, never closed.
struct TFormatContextFree {
    void operator()(AVFormatContext* c) const {
        if (c && avformat.avformat_free_context) avformat.avformat_free_context(c);
    }
};
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextFree>;

// An output container: its byte stream is closed (when the format writes to a
// file) before the context and its streams are freed.
struct TOutputContextClose {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->pb && c->oformat && !(c->oformat->flags & AVFMT_NOFILE) && avformat.avio_closep)
            avformat.avio_closep(&c->pb);
        if (avformat.avformat_free_context) avformat.avformat_free_context(c);
    }
};
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextClose>;

struct TDictionaryFree {
    void operator()(AVDictionary* d) const {
        if (d && avutil.av_dict_free) avutil.av_dict_free(&d);
    }
};
using TDictionaryPtr = std::unique_ptr<AVDictionary, TDictionaryFree>;

// One opened input file.
struct TInputFile {
    TInputContextPtr context;
    // [stream index]: a decoder context holding the stream's codec parameters
    // and the generic decoding options; opened by the transcode set-up.
    std::vector<TCodecContextPtr> decoders;

    AVFormatContext* get() const { return context.get(); }
    AVFormatContext* operator->() const { return context.get(); }
    explicit operator bool() const { return context != nullptr; }
};

// One stream of an output file, at the same index as the container's stream.
struct TOutputStream {
    // The encoder's settings; for a copied stream only the media type (and for
    // audio the channel count) is set here, the rest comes from the input.
    TCodecContextPtr encoder;
    bool stream_copy = false;
};

// One output file, opened for writing (byte stream open) but without header.
struct TOutputFile {
    TOutputContextPtr context;
    std::vector<TOutputStream> streams;
    // Muxing delay before the first packet, in microseconds. Handed to the
    // muxer as its "preload" option when it has one; kept here for the others.
    int64_t preload = 0;
    // A local file is written under temp_path (a name of ours in the target
    // folder) and moved to final_path, the name the user gave, at the end of a
    // usable run; temp_path is empty when the output is written where it is
    // named (devices, pipes).
    std::string temp_path;
    std::string final_path;
    bool replace = false;  // the move may replace an existing final file
    bool keep_stopped = true;  // a stopped run's file is placed where the final name is free
    std::string source_record;  // what it records of its input, as written; empty none
    std::string source_tag;     // the tag holding it; empty: a sidecar

    AVFormatContext* get() const { return context.get(); }
    AVFormatContext* operator->() const { return context.get(); }
    explicit operator bool() const { return context != nullptr; }
    // The name the user gave, also while the file is written under a temporary one.
    const char* ShownName() const { return final_path.c_str(); }
};
