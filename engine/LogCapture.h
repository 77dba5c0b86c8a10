#pragma once
// The capture of the media libraries' log: every library message becomes whole
// lines, delivered to each live engine component tagged with the thread that
// wrote it and the task its context was marked with (the libraries' own
// threads log with a context of the task they work for). Partial lines wait
// per thread (TLogList) until their line end.
#include <cstdarg>
#include <string>
#include <thread>

class TCustomDAzaduVED;

// Pending partial lines, one node per thread. The head node lives in the list
// itself; further nodes are chained after it and released only by Clear.
class TLogList {
public:
    TLogList() = default;
    TLogList(const TLogList&) = delete;
    TLogList& operator=(const TLogList&) = delete;
    ~TLogList() { Clear(); }

    // The pending text of a thread; a free head node or a new node is taken
    // for a thread seen for the first time.
    std::string& FindOrAdd(std::thread::id thread);
    void Clear();
    size_t NodeCount() const;

private:
    struct TNode {
        std::thread::id thread;  // default id: the head node is free
        std::string text;
        TNode* next = nullptr;
    };
    TNode head_;
};

// A pending text longer than this is delivered as a line of its own, so one
// thread that never ends its lines cannot grow without bound.
constexpr size_t MaxPendingLogText = 16384;

// The routine installed with av_log_set_callback.
void CaptureLibraryLog(void* context, int level, const char* format, va_list args);

// Live components: entered when made, left when destroyed. Leaving waits
// until no delivery to the component is under way.
void RegisterLogComponent(TCustomDAzaduVED* component);
void UnregisterLogComponent(TCustomDAzaduVED* component);

// Drops every thread's pending text (a run starts or is over).
void ClearLogLines();
