#include "engine/EventLoop.h"

TEventLoopWindowThread::TEventLoopWindowThread() : thread_(std::this_thread::get_id()) {}

void TEventLoopWindowThread::OneShotTimer(int ms, std::function<void()> fn) {
    std::lock_guard<std::mutex> guard(lock_);
    timers_.emplace(TClock::now() + std::chrono::milliseconds(ms), std::move(fn));
    changed_.notify_all();
}

void TEventLoopWindowThread::RunAndWait(std::function<void()> fn) {
    if (IsWindowThread()) {
        fn();
        return;
    }
    bool done = false;
    std::unique_lock<std::mutex> guard(lock_);
    calls_.push_back(TCall{std::move(fn), &done});
    changed_.notify_all();
    changed_.wait(guard, [&] { return done; });
}

void TEventLoopWindowThread::Wake() {
    std::lock_guard<std::mutex> guard(lock_);
    woken_ = true;
    changed_.notify_all();
}

bool TEventLoopWindowThread::TakeDue(std::function<void()>& work, bool*& done) {
    done = nullptr;
    if (!calls_.empty()) {
        work = std::move(calls_.front().fn);
        done = calls_.front().done;
        calls_.pop_front();
        return true;
    }
    if (!timers_.empty() && timers_.begin()->first <= TClock::now()) {
        work = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        return true;
    }
    return false;
}

void TEventLoopWindowThread::ProcessPending() {
    std::unique_lock<std::mutex> guard(lock_);
    std::function<void()> work;
    bool* done;
    while (TakeDue(work, done)) {
        guard.unlock();
        work();
        guard.lock();
        if (done) {
            *done = true;
            changed_.notify_all();
        }
    }
}

bool TEventLoopWindowThread::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = TClock::now() + timeout;
    for (;;) {
        ProcessPending();
        if (done()) return true;
        std::unique_lock<std::mutex> guard(lock_);
        if (TClock::now() >= deadline) return false;
        auto until = deadline;
        if (!timers_.empty() && timers_.begin()->first < until) until = timers_.begin()->first;
        // Waking now and then keeps a condition that changed without Wake from being missed for long.
        const auto soon = TClock::now() + std::chrono::milliseconds(50);
        if (soon < until) until = soon;
        changed_.wait_until(guard, until, [&] { return woken_ || !calls_.empty(); });
        woken_ = false;
    }
}
