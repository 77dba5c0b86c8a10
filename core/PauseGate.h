#pragma once
// Where a paused run waits: the main loop passes the gate once per packet, and
// a closed gate holds it there, asleep, until the gate opens or the run is
// asked to stop. Closed and opened from any thread.
#include <atomic>
#include <condition_variable>
#include <mutex>

class TPauseGate {
public:
    void Close();
    void Open();
    bool Closed() const { return closed_.load(); }
    // Lets a waiting pass look at its stop flag again; called after the flag is set.
    void Wake();
    // Returns at once while the gate is open; otherwise waits until it opens
    // or stop is set. False when stop is set.
    bool Pass(const std::atomic<bool>& stop);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::atomic<bool> closed_{false};  // written under lock_, read without it on the way through
};
