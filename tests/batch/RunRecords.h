#pragma once
// A batch run followed to its end as a face follows it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

#include "batch/Converter.h"
#include "engine/EventLoop.h"

// Every record the run gives, in the order of the files (the refusals of a
// link's or folder's entries, which name no file, first); stop tells after
// each look whether to stop the run now.
inline std::vector<TFileRecord> RecordsToEnd(TBatchRun& run, TEventLoopWindowThread& loop, std::atomic<bool>& news,
                                             const std::function<bool(const TRunUpdate&)>& stop = nullptr) {
    std::vector<TFileRecord> records;
    for (;;) {
        const TRunUpdate update = run.Take();
        records.insert(records.end(), update.Ended.begin(), update.Ended.end());
        if (stop && stop(update)) run.Stop();
        if (update.Over) break;
        if (!update.TakeAgain) loop.RunUntil([&] { return news.exchange(false); }, std::chrono::milliseconds(250));
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const TFileRecord& a, const TFileRecord& b) { return a.Id < b.Id; });
    return records;
}
