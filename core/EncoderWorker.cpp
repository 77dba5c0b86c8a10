#include "core/EncoderWorker.h"

TEncoderWorker::TEncoderWorker(std::function<void(const AVFrame*)> encode, std::vector<TFramePtr> frames)
    : encode_(std::move(encode)), pool_(std::move(frames)) {
    for (auto& f : pool_) free_.push_back(f.get());
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
    // Called with the lock held.
    if (failure_) {
        std::exception_ptr e = failure_;
        failure_ = nullptr;
        stopping_ = true;
        std::rethrow_exception(e);
    }
}

AVFrame* TEncoderWorker::Acquire() {
    std::unique_lock<std::mutex> guard(lock_);
    if (free_.empty()) {
        // The encoder is the slower side: wait until half the pool is back, so
        // that the two threads hand over in batches instead of frame by frame.
        reader_waiting_ = true;
        changed_.wait(guard, [this] { return free_.size() >= pool_.size() / 2 || failure_; });
        reader_waiting_ = false;
    }
    RaiseFailure();
    AVFrame* frame = free_.front();
    free_.pop_front();
    return frame;
}

void TEncoderWorker::Submit(AVFrame* frame) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        RaiseFailure();
        queued_.push_back(frame);
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
    std::lock_guard<std::mutex> guard(lock_);
    RaiseFailure();
}

void TEncoderWorker::Body() {
    while (true) {
        AVFrame* frame = nullptr;
        bool drain = false;
        {
            std::unique_lock<std::mutex> guard(lock_);
            encoder_waiting_ = true;
            changed_.wait(guard, [this] { return stopping_ || draining_ || !queued_.empty(); });
            encoder_waiting_ = false;
            if (stopping_) return;
            if (!queued_.empty()) {
                frame = queued_.front();
                queued_.pop_front();
            } else {
                drain = true;
            }
        }
        try {
            encode_(frame);
        } catch (...) {
            std::lock_guard<std::mutex> guard(lock_);
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        if (drain) return;
        bool wake = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            free_.push_back(frame);
            wake = reader_waiting_ && free_.size() >= pool_.size() / 2;
        }
        if (wake) changed_.notify_all();
    }
}
