#pragma once
// Runs an audio encoder on a thread of its own, so that reading, decoding and
// the video encoder of the reading thread overlap with its work. The packets
// it makes go back to the reading thread, which alone writes the container:
// the packets of the frame submitted n frames ago are written just before the
// reading side fills its slot again (n: the slots of the pool), and what is
// left at the end. The file is therefore the same however fast either thread
// runs. A failure on the encoder side is raised again on the reading side at
// its next call.
//
// Threads: the constructor, Acquire, Submit and Finish are called on the
// reading thread; encode runs on the worker (and the delay hook before it);
// write runs on the reading thread, inside Acquire and Finish.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/AvOwners.h"

// Packets one encoder call produced, kept for the writing side. The packet
// records are reused from call to call.
class TPacketBatch {
public:
    // The empty packet record that Keep adds to the batch; fill it first.
    AVPacket* Next();
    void Keep() { ++used_; }
    size_t Size() const { return used_; }
    AVPacket* At(size_t i) const { return packets_[i].get(); }
    // Unreferences the packets, keeping their records.
    void Clear();

private:
    std::vector<TPacketPtr> packets_;
    size_t used_ = 0;
};

// Test seam: when set, every encoder thread calls it before each frame it
// encodes (a test slows the helper down with it). Not set in the program.
extern std::atomic<void (*)()> EncoderWorkerDelay;

// How many frames of frame_bytes each fit in bytes, at least 2 (one being
// filled while the other is encoded).
size_t EncoderPoolFrames(size_t frame_bytes, size_t bytes);

class TEncoderWorker {
public:
    // encode: on the worker, once per submitted frame and once with nullptr
    // to drain the encoder at the end; adds the packets it made to the batch.
    using TEncode = std::function<void(const AVFrame*, TPacketBatch&)>;
    // write: on the reading thread, once per packet, in the order made.
    using TWrite = std::function<void(AVPacket*)>;

    // frames: the pool, all alike; its size is the lag of the writing.
    TEncoderWorker(TEncode encode, TWrite write, std::vector<TFramePtr> frames);
    TEncoderWorker(const TEncoderWorker&) = delete;
    TEncoderWorker& operator=(const TEncoderWorker&) = delete;
    // Stops without draining or writing (a run that failed) and waits for the thread.
    ~TEncoderWorker();

    // The frame of the next slot to fill. Writes the packets of the frame that
    // slot held before, waiting for its encoding when the worker lags behind.
    AVFrame* Acquire();
    // Hands the frame last acquired to the encoder.
    void Submit();
    // Drains the encoder, waits for the thread, writes every packet left in
    // order, and raises the worker's failure, if any.
    void Finish();
    // The encoder's thread (the library logs from it).
    std::thread::id ThreadId() const { return thread_.get_id(); }
    // Bytes of picture or sample data the pool holds.
    size_t PoolBytes() const;

private:
    struct TSlot {
        TFramePtr frame;
        TPacketBatch packets;
    };
    void Body();
    void RaiseFailure();  // with the lock held
    void WriteSlot(TSlot& slot);

    TEncode encode_;
    TWrite write_;
    std::vector<TSlot> slots_;
    TPacketBatch drained_;       // what the drain at the end gave
    std::mutex lock_;
    std::condition_variable changed_;
    // Frames submitted, encoded and written so far; frame k lives in slot k % slots.
    size_t submitted_ = 0;
    size_t encoded_ = 0;
    size_t written_ = 0;
    bool draining_ = false;
    bool reader_waiting_ = false;
    size_t reader_needs_ = 0;    // frames encoded that wake the waiting reader
    bool encoder_waiting_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};
