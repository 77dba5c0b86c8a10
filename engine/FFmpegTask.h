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

// Where a task is in the component's hands. Each transition has one function
// of TFFmpeg, called under the component's state lock.
enum class TTaskState {
    Waiting,                  // added: may be given outputs, join a run, be removed
    Configuring,              // SetOutputFile is at work on it: not started, not freed
    RemovedWhileConfiguring,  // removed meanwhile: SetOutputFile frees it
    Claimed,                  // started, scheduled to end, or ending: one termination will come
    Detached,                 // removed while its worker still had it: its end raises nothing and frees it
    Reported,                 // its termination has been taken in: nothing touches it any more
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
    TTaskState state = TTaskState::Waiting;

    // Its start was decided: from Waiting only.
    void Claim() { Move(TTaskState::Waiting, TTaskState::Claimed); }
    // SetOutputFile takes it and gives it back: false when it was removed meanwhile.
    void BeginConfiguring() { Move(TTaskState::Waiting, TTaskState::Configuring); }
    bool EndConfiguring() {
        if (state == TTaskState::RemovedWhileConfiguring) return false;
        Move(TTaskState::Configuring, TTaskState::Waiting);
        return true;
    }
    // Taken out of the list: what is left to do with it (free it now, or not).
    bool TakeOut() {
        switch (state) {
            case TTaskState::Configuring: state = TTaskState::RemovedWhileConfiguring; return false;
            case TTaskState::Claimed:
            case TTaskState::Detached: state = TTaskState::Detached; return false;
            default: return true;
        }
    }
    // Its termination raised by its removal: its worker's end raises nothing.
    void Detach() { Move(TTaskState::Claimed, TTaskState::Detached); }
    void Report() { Move(TTaskState::Claimed, TTaskState::Reported); }

    bool EverClaimed() const { return Ending() || state == TTaskState::Reported; }
    // Claimed and its termination not taken in: its worker (or a stop) still has it.
    bool Ending() const { return state == TTaskState::Claimed || state == TTaskState::Detached; }
    bool Configuring() const {
        return state == TTaskState::Configuring || state == TTaskState::RemovedWhileConfiguring;
    }
    bool Detached() const { return state == TTaskState::Detached; }
    // Its one termination is still to come.
    bool OwesTermination() const { return state == TTaskState::Claimed; }

    // Owned by the window's thread until the task is claimed, then by its worker.
    TOpeningSteps opening;
    bool output_failed = false;  // its start could not open an output

private:
    void Move(TTaskState from, TTaskState to) {
        if (state != from) throw Exception("task state: unexpected transition");
        state = to;
    }
};
