#include "batch/RunSummary.h"

#include <algorithm>

int TRunSummary::Count(TFileOutcome outcome) const {
    return static_cast<int>(
        std::count_if(entries_.begin(), entries_.end(), [&](const TSummaryEntry& e) { return e.Outcome == outcome; }));
}

std::vector<TSummaryEntry> TRunSummary::With(TFileOutcome outcome) const {
    std::vector<TSummaryEntry> found;
    for (const TSummaryEntry& e : entries_)
        if (e.Outcome == outcome) found.push_back(e);
    return found;
}

bool TRunSummary::RanToTheEnd() const {
    return Count(TFileOutcome::Stopped) == 0 && Count(TFileOutcome::NotStarted) == 0;
}
