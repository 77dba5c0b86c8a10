#pragma once
// The list that owns the engine's tasks. Not locked itself: the component guards it.
#include <cstdint>
#include <thread>
#include <vector>

class TFFmpeg;

class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;
    ~TFFmpegList();

    // Appends and writes the new position into the task's index.
    int Add(TFFmpeg* task);
    TFFmpeg* Items(int index) const;  // raises EListError-like Exception outside the list
    int Count() const { return static_cast<int>(items_.size()); }
    // The first running task on the given thread (its worker or a helper thread of its run), or none.
    TFFmpeg* FindByThreadID(std::thread::id thread) const;
    // The running task that is core (compared only, never read); none if none.
    TFFmpeg* FindRunning(const void* core) const;
    // The task with the serial, or none.
    TFFmpeg* FindBySerial(uint64_t serial) const;
    // Removes the task at the position and renumbers the following tasks; the
    // caller owns it from then on.
    TFFmpeg* Extract(int index);
    // Removes every task; the caller owns them.
    std::vector<TFFmpeg*> ExtractAll();

private:
    std::vector<TFFmpeg*> items_;
};
