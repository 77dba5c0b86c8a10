#include "app/WindowCalls.h"

#include <QThread>

#include <memory>

void TWindowCalls::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    ++generation_;
}

void TWindowCalls::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        ++generation_;
    }
    cv_.notify_all();
}

bool TWindowCalls::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool TWindowCalls::Queue(std::function<void()> fn, uint64_t& generation, bool* done) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    generation = generation_;
    const uint64_t gen = generation_;
    QMetaObject::invokeMethod(
        receiver_,
        [this, gen, done, fn = std::move(fn)] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (gen != generation_) return;  // closed since: dropped, the sender is gone
            }
            fn();
            if (done) {
                {
                    // A Close during fn has let the sender go: its flag is gone too.
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (gen != generation_) return;
                    *done = true;
                }
                cv_.notify_all();
            }
        },
        Qt::QueuedConnection);
    return true;
}

void TWindowCalls::Post(std::function<void()> fn) {
    if (QThread::currentThread() == receiver_->thread()) {
        if (IsOpen()) fn();
        return;
    }
    uint64_t gen = 0;
    Queue(std::move(fn), gen, nullptr);
}

void TWindowCalls::Send(std::function<void()> fn) {
    if (QThread::currentThread() == receiver_->thread()) {
        if (IsOpen()) fn();
        return;
    }
    // Lives on this stack frame: the queued routine only touches it while this
    // sender waits, and a Close stops the routine from running at all.
    bool done = false;
    uint64_t gen = 0;
    if (!Queue(std::move(fn), gen, &done)) return;
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return done || generation_ != gen; });
}
