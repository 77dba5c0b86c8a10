#include "app/QtWindowThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include "app/Previewer.h"

TQtWindowThread::TQtWindowThread() : threadId_(std::this_thread::get_id()) {}

TQtWindowThread::~TQtWindowThread() {
    // Nobody may be left waiting for a thread that no longer listens, and
    // preview windows whose tasks let them go are closed.
    RunWaiting();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

std::unique_ptr<TPreviewWindow> TQtWindowThread::NewPreviewWindow(const std::string& name) {
    return std::make_unique<TPreviewer>(this, name, onPreviewClosed_);
}

void TQtWindowThread::OneShotTimer(int ms, std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), std::move(fn)});
    }
    QMetaObject::invokeMethod(
        this, [this, ms] { QTimer::singleShot(ms, this, [this] { RunDueTimers(); }); }, Qt::QueuedConnection);
}

void TQtWindowThread::RunAndWait(std::function<void()> fn) {
    if (IsWindowThread()) {
        fn();
        return;
    }
    auto item = std::make_shared<TWaiting>();
    item->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.push_back(item);
    }
    QMetaObject::invokeMethod(this, [this] { RunWaiting(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(mutex_);
    doneCv_.wait(lock, [&] { return item->done; });
    if (item->error) std::rethrow_exception(item->error);
}

void TQtWindowThread::ProcessPending() {
    RunWaiting();
    RunDueTimers();
}

void TQtWindowThread::RunWaiting() {
    for (;;) {
        std::shared_ptr<TWaiting> item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (waiting_.empty()) return;
            item = waiting_.front();
            waiting_.pop_front();
        }
        try {
            item->fn();
        } catch (...) {
            item->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            item->done = true;
        }
        doneCv_.notify_all();
    }
}

void TQtWindowThread::RunDueTimers() {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        for (auto it = timers_.begin(); it != timers_.end();) {
            if (it->due <= now) {
                due.push_back(std::move(it->fn));
                it = timers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& fn : due) fn();
}
