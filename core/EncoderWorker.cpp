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
    changed_.wait(guard, [this] { return !free_.empty() || failure_; });
    RaiseFailure();
    AVFrame* frame = free_.front();
    free_.pop_front();
    return frame;
}

void TEncoderWorker::Submit(AVFrame* frame) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        RaiseFailure();
        queued_.push_back(frame);
    }
    changed_.notify_all();
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
            changed_.wait(guard, [this] { return stopping_ || draining_ || !queued_.empty(); });
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
        {
            std::lock_guard<std::mutex> guard(lock_);
            free_.push_back(frame);
        }
        changed_.notify_all();
    }
}
