#pragma once
// What became of each file of a batch, for the summary a front end shows at its end:
// which files were converted and into what, which failed and why, which were
// stopped or never reached. The front ends word it; this only keeps the facts.
#include <string>
#include <vector>

enum class TFileOutcome {
    Completed,   // converted to its end and saved
    Failed,      // an error ended it, or it could not be started
    Stopped,     // the user stopped it while it ran
    NotStarted,  // the batch was stopped before it began
};

struct TSummaryEntry {
    std::string Input;   // the file as the user gave it
    std::string Output;  // the file written; empty when none
    TFileOutcome Outcome = TFileOutcome::NotStarted;
    std::string Reason;  // why it failed; for a completed file, a remark such as how much was converted
};

class TRunSummary {
public:
    void Clear() { entries_.clear(); }
    void Add(TSummaryEntry entry) { entries_.push_back(std::move(entry)); }

    const std::vector<TSummaryEntry>& Entries() const { return entries_; }
    int Total() const { return static_cast<int>(entries_.size()); }
    int Count(TFileOutcome outcome) const;
    // The entries of one outcome, in the order they were added.
    std::vector<TSummaryEntry> With(TFileOutcome outcome) const;
    // Every file was dealt with: none stopped and none left waiting.
    bool RanToTheEnd() const;

private:
    std::vector<TSummaryEntry> entries_;
};
