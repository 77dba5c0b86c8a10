#pragma once
// A task of the engine component: one transcoder core with its option records
// and probe. Only the engine's own files and its tests see inside a task.
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/FFmpeg.h"
#include "engine/TaskList.h"
#include "engine/TaskOptions.h"
#include "probe/AVProbe.h"

// What AddTask and SetOutputFile asked of a task, done when the task starts:
// a waiting task holds no open file.
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
    bool output_failed = false;  // its start could not open an output
};
