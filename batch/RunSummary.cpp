#include "batch/RunSummary.h"

#include <algorithm>
#include <iterator>

namespace {

template <typename Pred>
std::vector<TFileRecord> Where(const std::vector<TFileRecord>& entries, Pred pred) {
    std::vector<TFileRecord> found;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(found), pred);
    return found;
}

}  // namespace

int TRunSummary::Count(TFileOutcome outcome) const {
    return static_cast<int>(
        std::count_if(entries_.begin(), entries_.end(), [&](const TFileRecord& e) { return e.Outcome == outcome; }));
}

int TRunSummary::Converted() const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const TFileRecord& e) { return e.Converted(); }));
}

int TRunSummary::Failures() const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const TFileRecord& e) { return e.Failure(); }));
}

std::vector<TFileRecord> TRunSummary::With(TFileOutcome outcome) const {
    return Where(entries_, [&](const TFileRecord& e) { return e.Outcome == outcome; });
}

std::vector<TFileRecord> TRunSummary::ConvertedFiles() const {
    return Where(entries_, [](const TFileRecord& e) { return e.Converted(); });
}

std::vector<TFileRecord> TRunSummary::FailedFiles() const {
    return Where(entries_, [](const TFileRecord& e) { return e.Failure(); });
}

bool TRunSummary::RanToTheEnd() const {
    return Count(TFileOutcome::Stopped) == 0 && Count(TFileOutcome::NotStarted) == 0;
}
