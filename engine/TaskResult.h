#pragma once
// What became of one task, as a front end needs it once the task has ended:
// plain values copied out of the task, so that nothing of the transcoder core
// is read after its termination event.
#include <cstdint>
#include <string>

// A task's name that never changes; positions shift when other tasks are removed.
using TTaskId = uint64_t;

enum class TTaskEnd {
    Finished,  // the transcode reached its normal end and its output was placed
    Stopped,   // a stop ended it, or it was removed before its end
    Failed,    // an error ended it
};

// Where a failed task failed; the engine tells the places apart, a front end
// words them.
enum class TTaskFailure {
    None,
    InputUnreadable,  // its input could not be opened or read as media
    OutputUnusable,   // its output could not be created (name, folder, the input itself)
    Decoding,         // the input's data could not be decoded
    NothingToWrite,   // the input has no stream the output can take
    Encoding,         // converting or writing failed
    DiskFull,         // the output's file system ran out of space
    Placing,          // the finished file could not take its name
};

struct TTaskResult {
    TTaskId Id = 0;
    TTaskEnd End = TTaskEnd::Stopped;
    TTaskFailure Failure = TTaskFailure::None;
    std::string Message;       // the error's text (English), empty unless failed
    bool Began = false;        // its run started (a stop may end a task that never ran)
    std::string PlacedOutput;  // the name its first output got; empty when none was placed
    bool MadeBefore = false;   // not placed: PlacedOutput is a finished conversion of its input made meanwhile
    int64_t ConvertedMs = -1;  // the longest output stream, milliseconds; -1 unknown
    int64_t ExpectedMs = -1;   // what the input declares, milliseconds; -1 unknown
    bool EndedShort = false;   // read to its end yet clearly shorter than declared
};
