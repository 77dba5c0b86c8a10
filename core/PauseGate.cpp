#include "core/PauseGate.h"

void TPauseGate::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
}

void TPauseGate::Open() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = false;
    }
    changed_.notify_all();
}

void TPauseGate::Wake() {
    // Taking the lock orders the flag before a waiter's next look at it.
    { std::lock_guard<std::mutex> guard(lock_); }
    changed_.notify_all();
}

bool TPauseGate::Pass(const std::atomic<bool>& stop) {
    if (!closed_.load(std::memory_order_acquire)) return !stop.load();
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return !closed_.load() || stop.load(); });
    return !stop.load();
}
