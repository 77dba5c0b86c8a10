#pragma once
// What the engine needs of the window's thread: a one-shot timer, a way to run
// a routine there and wait for it, the thread's identity, and preview windows.
// The converter window provides a Qt implementation; the command-line front
// end and the tests use TEventLoopWindowThread (engine/EventLoop.h).
#include <functional>
#include <memory>
#include <thread>

#include "hooks/PreviewWindow.h"

class TWindowThread {
public:
    virtual ~TWindowThread() = default;
    // Calls fn once on the window's thread, about ms milliseconds from now.
    virtual void OneShotTimer(int ms, std::function<void()> fn) = 0;
    // Runs fn on the window's thread and returns when it has run; on that
    // thread itself fn runs at once.
    virtual void RunAndWait(std::function<void()> fn) = 0;
    virtual std::thread::id ThreadId() const = 0;
    // Runs what is due on the window's thread (timers, waiting routines)
    // while that thread waits for workers; called only on that thread.
    virtual void ProcessPending() = 0;
    // A preview window for one task (hooks/PreviewWindow.h says how it is
    // used); none when there is no window to show pictures in. Called on a
    // worker under the preview lock: it must not wait for the window's thread.
    virtual std::unique_ptr<TPreviewWindow> NewPreviewWindow(const std::string& /*name*/) { return nullptr; }

    bool IsWindowThread() const { return std::this_thread::get_id() == ThreadId(); }
};
