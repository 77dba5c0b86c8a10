#pragma once
// A task of the engine component (one transcoder core with its option records
// and probe) and the list that owns the tasks.
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/FFmpeg.h"
#include "engine/TaskOptions.h"
#include "probe/AVProbe.h"

// What AddTask and SetOutputFile did to a task, kept so that the same opening
// can be done again when the task starts (its files are closed while it waits).
struct TOpeningSteps {
    std::string input;                          // the file given to AddTask
    std::optional<TInputOptions> input_options;  // none: AddTask had no record
    std::vector<std::pair<std::string, std::optional<TOutputOptions>>> outputs;  // in SetOutputFile order
};

class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg() = default;
    ~TFFmpeg() override;

    TInputOptions InputOptions;    // copy of the record given to AddTask
    TOutputOptions OutputOptions;  // copy of the record given to SetOutputFile
    TAVProbe Probe;                // attached to the task's last opened input while it is open

    // Run bookkeeping of the owning component, guarded by its state lock.
    uint64_t serial = 0;    // the component's name for it; unlike the index it never changes
    uint64_t run = 0;       // the StartConvert that counted it in (a task added later waits for the next)
    bool claimed = false;   // started, scheduled to end, or ending: one termination will come
    bool reported = false;  // its termination has been taken in: nothing touches it any more
    bool detached = false;  // removed while its worker still had it; its end raises nothing
    bool configuring = false;  // SetOutputFile is at work on it: not started, not freed
    bool removed = false;      // removed while configuring: SetOutputFile frees it

    // Owned by the window's thread until the task is claimed, then by its worker.
    TOpeningSteps opening;
    bool parked = false;  // its files are closed until it starts
};

// Owns its tasks. Not locked itself: the component guards it.
class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;
    ~TFFmpegList();

    // Appends and writes the new position into the task's index.
    int Add(TFFmpeg* task);
    TFFmpeg* Items(int index) const;  // raises EListError-like Exception outside the list
    int Count() const { return static_cast<int>(items_.size()); }
    // The first running task on the given thread (its worker or a helper thread of its run), or none.
    TFFmpeg* FindByThreadID(std::thread::id thread) const;
    // The running task that is core (compared only, never read); none if none.
    TFFmpeg* FindRunning(const void* core) const;
    // The task with the serial, or none.
    TFFmpeg* FindBySerial(uint64_t serial) const;
    // Removes the task at the position and renumbers the following tasks; the
    // caller owns it from then on.
    TFFmpeg* Extract(int index);
    // Removes every task; the caller owns them.
    std::vector<TFFmpeg*> ExtractAll();

private:
    std::vector<TFFmpeg*> items_;
};
