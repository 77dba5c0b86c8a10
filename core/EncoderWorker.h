#pragma once
// Runs an audio encoder (and the writing of its packets) on a thread of its
// own, so that reading and decoding the input overlap with the encoder's work.
// Frames circulate between the two threads through a small fixed pool: the
// reading side fills a free frame and submits it, the encoder side encodes it
// and hands it back. A failure on the encoder side is raised again on the
// reading side at its next call.
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/AvOwners.h"

class TEncoderWorker {
public:
    // encode: called on the worker for every submitted frame, and once with
    // nullptr to drain the encoder at the end. frames: the pool, all alike.
    TEncoderWorker(std::function<void(const AVFrame*)> encode, std::vector<TFramePtr> frames);
    TEncoderWorker(const TEncoderWorker&) = delete;
    TEncoderWorker& operator=(const TEncoderWorker&) = delete;
    // Stops without draining (a run that failed) and waits for the thread.
    ~TEncoderWorker();

    // A free frame of the pool; waits while all are in use.
    AVFrame* Acquire();
    void Submit(AVFrame* frame);
    // Drains the encoder, waits for the thread and raises its failure, if any.
    void Finish();
    // The encoder's thread (the library logs from it).
    std::thread::id ThreadId() const { return thread_.get_id(); }

private:
    void Body();
    void RaiseFailure();

    std::function<void(const AVFrame*)> encode_;
    std::vector<TFramePtr> pool_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<AVFrame*> free_;
    std::deque<AVFrame*> queued_;
    bool draining_ = false;
    bool reader_waiting_ = false;
    bool encoder_waiting_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};
