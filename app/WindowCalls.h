#pragma once
// Hands the engine's events from its worker threads to the window's thread.
//
// Post queues a routine and returns; Send queues one and waits until the window's
// thread has run it, so the worker (and the engine's next step) follows the window.
// Close drops whatever is still queued, lets every waiting worker go at once and
// refuses new routines until Open: the window closes before it stops or clears the
// engine, which waits for the workers, so that neither side ever waits for the other.
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class TWindowCalls {
public:
    explicit TWindowCalls(QObject* receiver) : receiver_(receiver) {}
    ~TWindowCalls() { Close(); }

    void Open();
    void Close();
    bool IsOpen() const;

    void Post(std::function<void()> fn);
    void Send(std::function<void()> fn);

private:
    // Queues fn for the current generation; false when closed.
    bool Queue(std::function<void()> fn, uint64_t& generation, bool* done);
    QObject* receiver_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    uint64_t generation_ = 0;
};
