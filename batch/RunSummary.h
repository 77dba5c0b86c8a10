#pragma once
// What became of each file of a batch: one outcome record per file, made by the
// converter (batch/Converter.h) and read by both faces for their rows, lines and
// summaries. The faces word it; this only keeps the facts.
#include <cstdint>
#include <string>
#include <vector>

#include "batch/Reasons.h"

enum class TFileOutcome {
    Completed,   // converted to its end and saved
    EndedEarly,  // converted and saved, but the input ended clearly before its declared length
    Failed,      // an error ended it
    Refused,     // not started: the batch found that it cannot be converted
    Stopped,     // the user stopped it while it ran
    NotStarted,  // the batch was stopped before it began
    Skipped,     // not converted: its output exists already and the rule says skip
};

// A listed file's name within its process: unlike a position it survives removals.
using TFileId = uint64_t;

struct TFileRecord {
    TFileId Id = 0;      // 0 for an entry that was never listed (a link's unusable entry)
    std::string Input;   // the file as the user gave it
    std::string Output;  // the file written (or to be written); empty when none
    TFileOutcome Outcome = TFileOutcome::NotStarted;
    TReason Reason = TReason::None;
    // The details in English: the libraries' or the system's message; for a
    // file that ended early, or was stopped and kept, how much of it was
    // converted ("00:00:03 of 00:00:10").
    std::string Text;
    int64_t ConvertedMs = -1;  // output length reached; -1 unknown
    int64_t ExpectedMs = -1;   // what the input declares; -1 unknown
    int64_t ElapsedMs = -1;    // from its start to its end; -1 when it never started

    bool Converted() const { return Outcome == TFileOutcome::Completed || Outcome == TFileOutcome::EndedEarly; }
    bool Failure() const { return Outcome == TFileOutcome::Failed || Outcome == TFileOutcome::Refused; }
};

// "completed", "ended-early", "failed", "refused", "stopped", "not-started", "skipped".
const char* OutcomeName(TFileOutcome outcome);

// How much of a file was converted, "00:00:03 of 00:00:10" ("00:00:03" when
// the expected length is unknown), both in milliseconds.
std::string ShorterText(int64_t convertedMs, int64_t expectedMs);

// How a batch ended, for a script that decides whether to run it again:
// every file converted (or counted as done); every file converted or beyond
// converting as it is (damaged, unreadable, nothing to convert, an input that
// ends early); or some file that a run again may still convert (a full disk,
// a stop, a failed encoding, a file never reached).
enum class TRunVerdict { AllConverted, SomeUnconvertible, RunAgain };

// Counts every outcome; keeps every record, or (for a batch of any size)
// only those of the failures and of the stopped files kept shorter.
class TRunSummary {
public:
    explicit TRunSummary(bool keep_every_record = true) : keep_all_(keep_every_record) {}
    void Clear();
    void Add(TFileRecord entry);
    // Files a stopped run never reached: they count as not started, without records.
    void AddNotReached(int64_t files);

    // The records kept, in the order they were added.
    const std::vector<TFileRecord>& Entries() const { return entries_; }
    int Total() const;
    int Count(TFileOutcome outcome) const;
    int Converted() const;  // completed, also those whose input ended early
    int Failures() const;   // failed or refused
    // Files of this outcome with this reason.
    int Count(TFileOutcome outcome, TReason reason) const;
    TRunVerdict Verdict() const;
    // The kept entries of one outcome, in the order they were added.
    std::vector<TFileRecord> With(TFileOutcome outcome) const;
    std::vector<TFileRecord> ConvertedFiles() const;
    std::vector<TFileRecord> FailedFiles() const;
    // Stopped files whose shorter output was kept under its name.
    std::vector<TFileRecord> KeptShorter() const;
    // Every file was dealt with: none stopped and none left waiting.
    bool RanToTheEnd() const;

private:
    static constexpr int kOutcomes = static_cast<int>(TFileOutcome::Skipped) + 1;
    static constexpr int kReasons = static_cast<int>(TReason::Vanished) + 1;
    bool keep_all_;
    int counts_[kOutcomes] = {};
    int reasons_[kOutcomes][kReasons] = {};
    int run_again_ = 0;           // files a run again may convert
    std::vector<TFileRecord> entries_;
};
