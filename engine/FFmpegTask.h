#pragma once
// A task of the engine component (one transcoder core with its option records
// and probe) and the list that owns the tasks.
#include <thread>
#include <vector>

#include "core/FFmpeg.h"
#include "engine/TaskOptions.h"
#include "probe/AVProbe.h"

class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg() = default;
    ~TFFmpeg() override;

    TInputOptions InputOptions;    // copy of the record given to AddTask
    TOutputOptions OutputOptions;  // copy of the record given to SetOutputFile
    TAVProbe Probe;                // attached to the task's last opened input

    // Run bookkeeping of the owning component, guarded by its state lock.
    bool claimed = false;   // started, scheduled to end, or ending: one termination will come
    bool reported = false;  // its termination has been taken in: nothing touches it any more
    bool detached = false;  // removed from the list while its worker still had it
};

// Owns its tasks. Not locked itself: the component guards it.
class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;
    ~TFFmpegList() { Clear(); }

    // Appends and writes the new position into the task's index.
    int Add(TFFmpeg* task);
    TFFmpeg* Items(int index) const;  // raises EListError-like Exception outside the list
    int Count() const { return static_cast<int>(items_.size()); }
    // The first running task on the given thread, or none.
    TFFmpeg* FindByThreadID(std::thread::id thread) const;
    // Frees the task at the position (or hands it to its worker, see Release),
    // removes it and renumbers the following tasks.
    void Delete(int index);
    // Frees (or hands over) every task, then empties the list.
    void Clear();
    // Frees a task that nothing else can touch; a task whose worker may still
    // use it is marked detached and asked to stop, and its termination frees it.
    static void Release(TFFmpeg* task);

private:
    std::vector<TFFmpeg*> items_;
};
