#pragma once
// The progress of a whole batch, worked out from what the engine reports per file:
// how many files have started and ended, how far the batch is by playing time,
// the time it has taken and an estimate of the time left. Plain arithmetic over
// the times handed in, so it is the same in every front end and in tests.
//
// Not locked: one thread (the front end's) feeds and reads it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class TBatchProgress {
public:
    // A new batch of files in run order, with their lengths in milliseconds
    // (-1 when unknown) and their sizes in bytes (-1 unknown; may be empty),
    // begun at nowMs (any steady clock in milliseconds).
    void Start(const std::vector<int64_t>& durationsMs, int64_t nowMs, const std::vector<int64_t>& sizes = {});

    // A file found while the batch goes, of this length and size (-1 unknown): its number.
    int AddFile(int64_t durationMs, int64_t sizeBytes = -1);
    // The files the batch holds in all, as far as is known; those not added
    // yet weigh as much as the average known one.
    void SetExpected(int64_t files) { expected_ = files; }
    int64_t Expected() const { return std::max<int64_t>(expected_, Files()); }

    // A progress record of file `file`: output time reached and the length the
    // engine expects (milliseconds; -1 unknown). The first record marks the file started.
    void FileProgress(int file, int64_t currentMs, int64_t totalMs, int64_t nowMs);
    // The file has ended (converted, skipped or failed in its run): it counts as done.
    void FileEnded(int file);
    // The file was stopped, or never reached: it counts as far as it got.
    void FileStopped(int file);
    // The file could not be read: it weighs nothing.
    void FileDropped(int file);

    int Files() const { return static_cast<int>(files_.size()); }
    int Ended() const { return ended_; }
    int Running() const { return running_; }
    // Whether file `file` has started and not ended.
    bool IsRunning(int file) const {
        return file >= 0 && file < Files() && files_[static_cast<size_t>(file)].state == TState::Running;
    }
    // Files started so far (ended and running): the n of "file n of N".
    int Started() const { return ended_ + running_; }

    // The part of the batch's playing time dealt with, 0 to 1, never going back.
    // A file of unknown length weighs by its size at the bytes per millisecond
    // of the files whose length and size are known, else as the average known one.
    double Fraction() const;
    int Percent() const;  // Fraction in whole percent, truncated
    int64_t ElapsedMs(int64_t nowMs) const;
    // What is left at the speed so far; -1 while too little has been done to tell.
    int64_t RemainingMs(int64_t nowMs) const;
    // Speed of one running file: output time reached per wall-clock time since its
    // first record (38.0 is 38 times real time); 0 while it cannot be told.
    double FileSpeed(int file, int64_t nowMs) const;

    // The batch paused and resumed at these times: the time between counts
    // neither in the time taken, nor in the estimate, nor in a file's speed.
    void Pause(int64_t nowMs);
    void Resume(int64_t nowMs);
    bool Paused() const { return pausedAtMs_ >= 0; }

private:
    enum class TState { Waiting, Running, Ended, Stopped, Dropped };
    struct TFile {
        int64_t durationMs = -1;  // -1 unknown
        int64_t sizeBytes = -1;   // -1 unknown
        int64_t doneMs = 0;       // output time reached
        int64_t startedAtMs = 0;  // clock time of its first record
        int64_t firstDoneMs = 0;  // output time of its first record
        TState state = TState::Waiting;
    };
    double Weight(const TFile& f) const;
    void Learn(int64_t durationMs, int64_t sizeBytes);
    void End(int file, TState how);

    std::vector<TFile> files_;
    int64_t startMs_ = 0;
    int ended_ = 0;
    int running_ = 0;
    double averageMs_ = 1.0;  // the weight of a file of unknown length
    int64_t knownMs_ = 0;     // the lengths known, and of how many files
    int knownCount_ = 0;
    int64_t sizedMs_ = 0;     // the lengths and sizes of the files where both are known
    int64_t sizedBytes_ = 0;
    mutable double shown_ = 0;  // the largest fraction told so far
    int64_t expected_ = 0;
    // The clock without the pauses: every time kept above is on it.
    int64_t ActiveMs(int64_t nowMs) const;
    int64_t pausedMs_ = 0;     // the pauses that ended, in total
    int64_t pausedAtMs_ = -1;  // when the pause going began; -1 none
};

// A length or position as "mm:ss", or "h:mm:ss" from an hour up; negative shows 00:00.
std::string ClockText(int64_t ms);
