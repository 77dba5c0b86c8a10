#pragma once
// A window thread without a window: a small event loop on the thread that made
// it, with one-shot timers and routines other threads run there and wait for.
// The command-line front end and the tests drive the engine with it.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "engine/WindowThread.h"

class TEventLoopWindowThread : public TWindowThread {
public:
    TEventLoopWindowThread();

    void OneShotTimer(int ms, std::function<void()> fn) override;
    void RunAndWait(std::function<void()> fn) override;
    std::thread::id ThreadId() const override { return thread_; }
    void ProcessPending() override;

    // Runs the loop until done() holds (checked after every piece of work and
    // whenever Wake is called). Answers false when timeout ran out first.
    bool RunUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(120000));
    // Makes RunUntil look at its condition again (from any thread).
    void Wake();

private:
    using TClock = std::chrono::steady_clock;
    struct TCall {
        std::function<void()> fn;
        bool* done;
    };
    // Takes one piece of due work, or answers false.
    bool TakeDue(std::function<void()>& work, bool*& done);

    std::thread::id thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::multimap<TClock::time_point, std::function<void()>> timers_;
    std::deque<TCall> calls_;
    bool woken_ = false;
};
