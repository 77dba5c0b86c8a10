#include "core/FFmpegThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/FFmpeg.h"

namespace {

// Never destroyed: detached task threads may still be leaving when the
// process ends and static objects go.
struct TLiveThreads {
    std::mutex lock;
    std::condition_variable changed;
    size_t count = 0;
};

TLiveThreads& Live() {
    static TLiveThreads* live = new TLiveThreads;
    return *live;
}

}  // namespace

void SetCurrentThreadPriority(TConvertPriority priority) {
    switch (priority) {
        case tpIdle: {
            sched_param param{};
            param.sched_priority = 0;
            ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param);
            break;
        }
        case tpLowest:
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 15);
            break;
        case tpLower:
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 8);
            break;
        case tpNormal:
            break;
    }
}

TSuspendedThread::TSuspendedThread(TConvertPriority priority) : priority_(priority) {
    // Raises std::system_error when the system gives no thread; the body waits
    // for Resume, so counting it afterwards is in time.
    std::thread thread(&TSuspendedThread::Body, this);
    id_ = thread.get_id();
    thread.detach();
    std::lock_guard<std::mutex> guard(Live().lock);
    ++Live().count;
}

TSuspendedThread::~TSuspendedThread() = default;

void TSuspendedThread::Resume() {
    std::lock_guard<std::mutex> guard(gate_lock_);
    resumed_ = true;
    gate_.notify_one();
}

void TSuspendedThread::Body() {
    {
        std::unique_lock<std::mutex> guard(gate_lock_);
        gate_.wait(guard, [this] { return resumed_; });
    }
    SetCurrentThreadPriority(priority_);
    try {
        Execute();
    } catch (...) {
        // An event handler's exception has no caller to go to on a thread of
        // ours: the thread ends as it would have, instead of the process.
    }
    delete this;
    // Counted down last, so that a waiter knows no task thread runs our code any more.
    TLiveThreads& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    --live.count;
    live.changed.notify_all();
}

void TFFmpegThread::Execute() {
    if (task_) task_->Run();
}

void TDoTerminateThread::Execute() {
    for (TCustomFFmpeg* task : tasks_) task->TerminateStep();
}

size_t LiveTaskThreads() {
    std::lock_guard<std::mutex> guard(Live().lock);
    return Live().count;
}

void WaitForTaskThreads() {
    TLiveThreads& live = Live();
    std::unique_lock<std::mutex> guard(live.lock);
    live.changed.wait(guard, [&] { return live.count == 0; });
}
