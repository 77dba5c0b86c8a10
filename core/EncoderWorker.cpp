#include "core/EncoderWorker.h"

#include <algorithm>

#include "binding/FFmpegLoader.h"
#include "core/FFmpegException.h"

std::atomic<void (*)()> EncoderWorkerDelay{nullptr};

size_t EncoderPoolFrames(size_t frame_bytes, size_t bytes) {
    return std::max<size_t>(2, bytes / std::max<size_t>(frame_bytes, 1));
}

AVPacket* TPacketBatch::Next() {
    if (used_ == packets_.size()) {
        packets_.emplace_back(avcodec.av_packet_alloc());
        if (!packets_.back()) {
            packets_.pop_back();
            throw FFmpegException("av_malloc failed");
        }
    }
    return packets_[used_].get();
}

void TPacketBatch::Clear() {
    for (size_t i = 0; i < used_; ++i) avcodec.av_packet_unref(packets_[i].get());
    used_ = 0;
}

TEncoderWorker::TEncoderWorker(TEncode encode, TWrite write, std::vector<TFramePtr> frames)
    : encode_(std::move(encode)), write_(std::move(write)) {
    for (auto& f : frames) slots_.push_back(TSlot{std::move(f), {}});
    thread_ = std::thread([this] { Body(); });
}

TEncoderWorker::~TEncoderWorker() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TEncoderWorker::RaiseFailure() {
    if (!failure_) return;
    std::exception_ptr e = failure_;
    failure_ = nullptr;
    stopping_ = true;
    std::rethrow_exception(e);
}

size_t TEncoderWorker::PoolBytes() const {
    size_t bytes = 0;
    for (const TSlot& slot : slots_)
        for (const AVBufferRef* buf : slot.frame->buf)
            if (buf) bytes += buf->size;
    return bytes;
}

void TEncoderWorker::WriteSlot(TSlot& slot) {
    for (size_t i = 0; i < slot.packets.Size(); ++i) write_(slot.packets.At(i));
    slot.packets.Clear();
}

AVFrame* TEncoderWorker::Acquire() {
    const size_t n = slots_.size();
    TSlot& slot = slots_[submitted_ % n];
    if (submitted_ >= n) {
        // The frame this slot held must be written now, whatever the worker's pace.
        const size_t due = submitted_ - n;
        {
            std::unique_lock<std::mutex> guard(lock_);
            RaiseFailure();
            if (encoded_ <= due) {
                // The worker lags: wait until half the pool is done, so that
                // the threads hand over in batches instead of frame by frame.
                reader_waiting_ = true;
                reader_needs_ = due + std::max<size_t>(1, n / 2);
                changed_.wait(guard, [&] { return encoded_ >= reader_needs_ || failure_; });
                reader_waiting_ = false;
                RaiseFailure();
            }
        }
        WriteSlot(slot);
        ++written_;
    }
    return slot.frame.get();
}

void TEncoderWorker::Submit() {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        RaiseFailure();
        ++submitted_;
        wake = encoder_waiting_;
    }
    if (wake) changed_.notify_all();
}

void TEncoderWorker::Finish() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        draining_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard<std::mutex> guard(lock_);
        RaiseFailure();
    }
    for (; written_ < submitted_; ++written_) WriteSlot(slots_[written_ % slots_.size()]);
    for (size_t i = 0; i < drained_.Size(); ++i) write_(drained_.At(i));
    drained_.Clear();
}

void TEncoderWorker::Body() {
    while (true) {
        TSlot* slot = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock_);
            encoder_waiting_ = true;
            changed_.wait(guard, [this] { return stopping_ || draining_ || encoded_ < submitted_; });
            encoder_waiting_ = false;
            if (stopping_) return;
            if (encoded_ < submitted_) slot = &slots_[encoded_ % slots_.size()];
        }
        if (void (*delay)() = EncoderWorkerDelay.load()) delay();
        try {
            if (slot)
                encode_(slot->frame.get(), slot->packets);
            else
                encode_(nullptr, drained_);
        } catch (...) {
            std::lock_guard<std::mutex> guard(lock_);
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        if (!slot) return;
        bool wake = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++encoded_;
            wake = reader_waiting_ && encoded_ >= reader_needs_;
        }
        if (wake) changed_.notify_all();
    }
}
