#pragma once
// The threads that run a task: TFFmpegThread runs the whole task, and
// TDoTerminateThread ends tasks that never ran, one after another. Both are made suspended, run
// their body once they are resumed, and free themselves when it returns.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class TCustomFFmpeg;

// Worker thread priorities, lowest first.
enum TConvertPriority : int { tpIdle = 0, tpLowest = 1, tpLower = 2, tpNormal = 3 };

// Gives the calling thread a priority: SCHED_IDLE for tpIdle, a higher nice
// value for the two lowered ones. Silently nothing where the system refuses.
void SetCurrentThreadPriority(TConvertPriority priority);

// A thread whose body starts only after Resume; it deletes itself afterwards.
class TSuspendedThread {
public:
    TSuspendedThread(const TSuspendedThread&) = delete;
    TSuspendedThread& operator=(const TSuspendedThread&) = delete;

    std::thread::id ThreadID() const { return id_; }
    // Lets the body run; a second call does nothing. After this the object
    // belongs to its thread and must not be touched by the caller.
    void Resume();

protected:
    explicit TSuspendedThread(TConvertPriority priority);
    virtual ~TSuspendedThread();
    virtual void Execute() = 0;

private:
    void Body();

    TConvertPriority priority_;
    std::mutex gate_lock_;
    std::condition_variable gate_;
    bool resumed_ = false;
    std::thread::id id_;
};

class TFFmpegThread : public TSuspendedThread {
public:
    TFFmpegThread(TCustomFFmpeg* task, TConvertPriority priority) : TSuspendedThread(priority), task_(task) {}

protected:
    void Execute() override;

private:
    TCustomFFmpeg* task_;
};

class TDoTerminateThread : public TSuspendedThread {
public:
    // The tasks end in their order.
    explicit TDoTerminateThread(std::vector<TCustomFFmpeg*> tasks)
        : TSuspendedThread(tpIdle), tasks_(std::move(tasks)) {}

protected:
    void Execute() override;

private:
    std::vector<TCustomFFmpeg*> tasks_;
};

// Threads of either kind that have not finished yet, process-wide.
size_t LiveTaskThreads();
// Waits until every task thread has left its body.
void WaitForTaskThreads();
