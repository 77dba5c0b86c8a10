#pragma once
// The engine's view of the window's thread, built on Qt's event loop.
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/WindowThread.h"

class TQtWindowThread : public QObject, public TWindowThread {
public:
    // Made on the window's thread, which it then stands for.
    TQtWindowThread();
    ~TQtWindowThread() override;

    void OneShotTimer(int ms, std::function<void()> fn) override;
    void RunAndWait(std::function<void()> fn) override;
    std::thread::id ThreadId() const override { return threadId_; }
    void ProcessPending() override;
    // A TPreviewer (app/Previewer.h) whose window lives on this thread.
    std::unique_ptr<TPreviewWindow> NewPreviewWindow(const std::string& name) override;
    // Called on this thread when the user closes a preview window made here.
    void SetOnPreviewClosed(std::function<void()> fn) { onPreviewClosed_ = std::move(fn); }

private:
    struct TWaiting {
        std::function<void()> fn;
        std::exception_ptr error;
        bool done = false;
    };
    struct TTimer {
        std::chrono::steady_clock::time_point due;
        std::function<void()> fn;
    };
    void RunWaiting();
    void RunDueTimers();

    std::thread::id threadId_;
    std::mutex mutex_;
    std::condition_variable doneCv_;
    std::deque<std::shared_ptr<TWaiting>> waiting_;
    std::vector<TTimer> timers_;
    std::function<void()> onPreviewClosed_;
};
