#pragma once
// An engine component on the test's thread (with an event loop standing in for
// the window's thread), the libraries loaded, and every event it raises recorded.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "core/FFmpegThread.h"
#include "engine/FFmpegTask.h"
#include "engine/EventLoop.h"
#include "engine/LogCapture.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/Fixtures.h"

namespace enginetest {

using namespace ardentix::test;

struct TEvent {
    char kind = 0;  // 'p' progress, 't' terminate, 'l' log
    int index = -1;
    std::thread::id thread;
    TProgressInfo progress;
    TTerminateInfo terminate;
    TLogLevel level = llQuiet;
    std::string text;
};

// Everything one component raised, in order, from whatever thread.
class TRecorder {
public:
    void Attach(TCustomDAzaduVED& engine, TEventLoopWindowThread* loop) {
        loop_ = loop;
        engine.SetOnProgress([this](int index, int frame, int fps, int ms, float q, float br, int64_t size, int total) {
            TEvent e = Make('p', index);
            e.progress = TProgressInfo{index, frame, fps, ms, q, br, size, total};
            Add(std::move(e));
        });
        engine.SetOnTerminate([this](int index, bool finished, bool exception, const std::string& message) {
            TEvent e = Make('t', index);
            e.terminate = TTerminateInfo{index, finished, exception, message};
            if (on_terminate) on_terminate(index);
            Add(std::move(e));
            if (index < 0) ++end_of_runs;
        });
        engine.SetOnLog([this](int index, TLogLevel level, const std::string& msg) {
            TEvent e = Make('l', index);
            e.level = level;
            e.text = msg;
            Add(std::move(e));
        });
    }

    std::vector<TEvent> Events() const {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    std::vector<TEvent> Of(char kind) const {
        std::vector<TEvent> out;
        for (const TEvent& e : Events())
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    // Waits (running the loop) until the end-of-run event has come n times.
    bool WaitEndOfRun(int n = 1) {
        return loop_->RunUntil([&] { return end_of_runs.load() >= n; }, std::chrono::seconds(240));
    }

    std::function<void(int)> on_terminate;  // runs inside OnTerminate, before recording
    std::atomic<int> end_of_runs{0};

private:
    static TEvent Make(char kind, int index) {
        TEvent e;
        e.kind = kind;
        e.index = index;
        e.thread = std::this_thread::get_id();
        return e;
    }
    void Add(TEvent e) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            events_.push_back(std::move(e));
        }
        if (loop_) loop_->Wake();
    }

    TEventLoopWindowThread* loop_ = nullptr;
    mutable std::mutex lock_;
    std::vector<TEvent> events_;
};

// TLoop: the window's thread, a TEventLoopWindowThread or one that makes preview windows.
template <class TLoop = TEventLoopWindowThread>
class EngineTestWith : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<TDAzaduVED>(&loop);
        ASSERT_TRUE(engine->LoadLibraries("")) << engine->LastErrorText();
        engine->SetLogLevel(llQuiet);
        recorder.Attach(*engine, &loop);
    }
    void TearDown() override { engine.reset(); }

    // A task made the way the converter makes one: MP3 with libmp3lame.
    int AddMp3Task(const std::string& input, const std::string& output, int channels = 2, int rate = 44100,
                   int kbps = 128) {
        TInputOptions in;
        in.FileName = input;
        const int index = engine->AddTask(input, &in);
        EXPECT_GE(index, 0) << engine->LastErrorText();
        if (index < 0) return index;
        TOutputOptions out;
        out.FileName = output;
        out.FileExt = ".mp3";
        out.AudioCodec = "libmp3lame";
        out.AudioChannels = channels;
        out.AudioSampleRate = rate;
        out.AudioBitrate = kbps * 1000;
        out.Timestamp = 0.0;
        EXPECT_TRUE(engine->SetOutputFile(index, output, &out)) << engine->LastErrorText();
        return index;
    }
    // Three short tasks over generated RealMedia files.
    void AddThreeTasks(double seconds = 1.0) {
        for (int i = 0; i < 3; ++i) {
            const std::string src = MakeRealAc3(dir, "in" + std::to_string(i) + ".rm", seconds, 44100, 2);
            ASSERT_EQ(AddMp3Task(src, dir.File("out" + std::to_string(i) + ".mp3")), i);
        }
    }
    // The terminate events as indexes, in order.
    std::vector<int> TerminateOrder() const {
        std::vector<int> order;
        for (const TEvent& e : recorder.Of('t')) order.push_back(e.index);
        return order;
    }

    TLoop loop;
    TempDir dir;
    std::unique_ptr<TDAzaduVED> engine;
    TRecorder recorder;
};
using EngineTest = EngineTestWith<>;

// Ends the test program with a message when a step does not return in time:
// a hang is a failure, not a stuck test run. Not a speed check: the limit is
// far beyond any normal duration.
class TWatchdog {
public:
    explicit TWatchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(120))
        : what_(std::move(what)), thread_([this, limit] {
              std::unique_lock<std::mutex> guard(lock_);
              if (!changed_.wait_for(guard, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "\nHUNG: %s did not return\n", what_.c_str());
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    std::string what_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

// A message through the library's log entry as the libraries write one.
inline void LibraryLog(void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    CaptureLibraryLog(context, level, format, args);
    va_end(args);
}

}  // namespace enginetest
