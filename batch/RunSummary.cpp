#include "batch/RunSummary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "batch/General.h"

namespace {

template <typename Pred>
std::vector<TFileRecord> Where(const std::vector<TFileRecord>& entries, Pred pred) {
    std::vector<TFileRecord> found;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(found), pred);
    return found;
}

}  // namespace

const char* OutcomeName(TFileOutcome outcome) {
    switch (outcome) {
        case TFileOutcome::Completed: return "completed";
        case TFileOutcome::EndedEarly: return "ended-early";
        case TFileOutcome::Failed: return "failed";
        case TFileOutcome::Refused: return "refused";
        case TFileOutcome::Stopped: return "stopped";
        case TFileOutcome::Skipped: return "skipped";
        case TFileOutcome::NotStarted: break;
    }
    return "not-started";
}

std::string ShorterText(int64_t convertedMs, int64_t expectedMs) {
    const std::string converted = DurationText(convertedMs * 1000);
    return expectedMs < 0 ? converted : converted + " of " + DurationText(expectedMs * 1000);
}

void TRunSummary::Clear() {
    std::fill(std::begin(counts_), std::end(counts_), 0);
    for (auto& row : reasons_) std::fill(std::begin(row), std::end(row), 0);
    run_again_ = 0;
    entries_.clear();
}

void TRunSummary::Add(TFileRecord entry) {
    ++counts_[static_cast<int>(entry.Outcome)];
    const bool done = entry.Converted() || entry.Outcome == TFileOutcome::Skipped;
    ++reasons_[static_cast<int>(entry.Outcome)][static_cast<int>(entry.Reason)];
    const bool unstarted = entry.Outcome == TFileOutcome::Stopped || entry.Outcome == TFileOutcome::NotStarted;
    if (!done && (unstarted || ReasonRetryable(entry.Reason))) ++run_again_;
    const bool kept_shorter = entry.Outcome == TFileOutcome::Stopped && !entry.Output.empty();
    if (keep_all_ || entry.Failure() || kept_shorter) entries_.push_back(std::move(entry));
}

void TRunSummary::AddNotReached(int64_t files) {
    counts_[static_cast<int>(TFileOutcome::NotStarted)] += static_cast<int>(files);
    run_again_ += static_cast<int>(files);
}

int TRunSummary::Count(TFileOutcome outcome, TReason reason) const {
    return reasons_[static_cast<int>(outcome)][static_cast<int>(reason)];
}

TRunVerdict TRunSummary::Verdict() const {
    if (run_again_ > 0) return TRunVerdict::RunAgain;
    if (Count(TFileOutcome::Completed) + Count(TFileOutcome::Skipped) < Total()) return TRunVerdict::SomeUnconvertible;
    return TRunVerdict::AllConverted;
}

int TRunSummary::Total() const {
    int total = 0;
    for (int count : counts_) total += count;
    return total;
}

int TRunSummary::Count(TFileOutcome outcome) const { return counts_[static_cast<int>(outcome)]; }

int TRunSummary::Converted() const { return Count(TFileOutcome::Completed) + Count(TFileOutcome::EndedEarly); }

int TRunSummary::Failures() const { return Count(TFileOutcome::Failed) + Count(TFileOutcome::Refused); }

std::vector<TFileRecord> TRunSummary::With(TFileOutcome outcome) const {
    return Where(entries_, [&](const TFileRecord& e) { return e.Outcome == outcome; });
}

std::vector<TFileRecord> TRunSummary::ConvertedFiles() const {
    return Where(entries_, [](const TFileRecord& e) { return e.Converted(); });
}

std::vector<TFileRecord> TRunSummary::FailedFiles() const {
    return Where(entries_, [](const TFileRecord& e) { return e.Failure(); });
}

std::vector<TFileRecord> TRunSummary::KeptShorter() const {
    return Where(entries_,
                 [](const TFileRecord& e) { return e.Outcome == TFileOutcome::Stopped && !e.Output.empty(); });
}

bool TRunSummary::RanToTheEnd() const {
    return Count(TFileOutcome::Stopped) == 0 && Count(TFileOutcome::NotStarted) == 0;
}
