#include "core/RunState.h"

#include <mutex>

#include "binding/FFmpegLoader.h"

TRunState::~TRunState() {
    ost_table.clear();
    ist_table.clear();
    for (TOpenCodec& node : open_encoders) {
        if (!node.needed || !node.context) continue;
        avutil.av_freep(&node.context->stats_in);
        std::lock_guard<std::mutex> lock(CodecLock);
        avcodec.avcodec_close(node.context);
    }
    for (TOpenCodec& node : open_decoders) {
        if (!node.needed || !node.context) continue;
        std::lock_guard<std::mutex> lock(CodecLock);
        avcodec.avcodec_close(node.context);
    }
}
