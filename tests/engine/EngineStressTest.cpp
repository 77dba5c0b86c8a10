// Random sequences of what a window and its handlers do to the engine (add,
// start, stop, remove, clear, unload) with 0, 1, 2 and 8 threads at every log
// level, with handlers that log, remove and wait for the window's thread.
// Every event is checked against the identity of the task it names; a
// sequence that does not come to rest ends the program through the watchdog.
// ARDENTIX_STRESS_SEQUENCES sets the number of sequences per thread count and
// level (default 35).
#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

// Set while this thread is inside a RemoveTask or ClearTasks of ours: the
// terminate events raised there come from the removing thread.
thread_local int removing = 0;

class TStress {
public:
    TStress(TDAzaduVED& engine, TEventLoopWindowThread& loop, const std::string& input, const TempDir& dir,
            uint32_t seed)
        : engine_(engine), loop_(loop), input_(input), dir_(dir), rng_(seed) {}

    void Attach() {
        engine_.SetOnTerminate([this](int index, bool, bool, const std::string&) { Terminated(index); });
        engine_.SetOnProgress([this](int index, int, int, int, float, float, int64_t, int) { Progressed(index); });
        engine_.SetOnLog([this](int index, TLogLevel, const std::string&) {
            if (index < -1) Fail("log line under index " + std::to_string(index));
        });
    }

    // One random sequence on the window's thread, then the run brought to rest.
    void Sequence(int threads, int steps) {
        for (int i = 0; i < steps; ++i) {
            switch (Pick(10)) {
                case 0:
                case 1:
                case 2: Add(1 + Pick(3)); break;
                case 3:
                case 4: engine_.StartConvert(threads); break;
                case 5: engine_.StopConvert(); break;
                case 6: RemoveSome(); break;
                case 7: Clear(); break;
                case 8:
                    if (Pick(4) == 0) Reload();
                    break;
                default: JoinLast(); break;
            }
            loop_.RunUntil([] { return false; }, std::chrono::milliseconds(Pick(8)));
        }
        engine_.StopConvert();
        if (!loop_.RunUntil([&] { return !engine_.Running(); }, std::chrono::seconds(60))) Fail("the run never ended");
        Clear();
    }

    int Failures() const { return failures_.load(); }
    const std::string& FirstFailure() const { return first_failure_; }
    int Ended() const { return ended_.load(); }

private:
    int Pick(int n) {
        std::lock_guard<std::mutex> guard(rng_lock_);
        return static_cast<int>(rng_() % static_cast<uint32_t>(n));
    }

    void Fail(const std::string& what) {
        std::lock_guard<std::mutex> guard(rng_lock_);
        if (failures_++ == 0) first_failure_ = what;
    }

    void Add(int n) {
        for (int i = 0; i < n; ++i) {
            TInputOptions in;
            // The identity: kept as given, since it is not empty.
            in.FileName = "task" + std::to_string(++made_);
            // A handler's removal on a worker moves the indexes under us: the
            // index AddTask answered may then name a task that is running.
            const int removals = removals_.load();
            const int index = engine_.AddTask(input_, &in);
            if (index < 0) {
                Fail("AddTask: " + engine_.LastErrorText());
                continue;
            }
            TOutputOptions out;
            out.AudioCodec = "libmp3lame";
            out.AudioChannels = 1;
            out.AudioSampleRate = 8000;
            out.AudioBitrate = 32000;
            // Now and then an output that cannot be made: the window removes the task.
            const bool bad = Pick(8) == 0;
            const std::string file = bad ? dir_.File("missing/x.mp3") : dir_.File(in.FileName + ".mp3");
            try {
                if (!engine_.SetOutputFile(index, file, &out)) {
                    // A handler's removal while the output was set is no fault.
                    if (engine_.LastErrorText() == "The task has been removed") continue;
                    if (removals_.load() != removals) continue;
                    if (!bad) Fail("SetOutputFile: " + engine_.LastErrorText());
                    Remove(index);
                }
            } catch (const Exception&) {
                // A handler cleared the list since AddTask: the index is gone.
            }
        }
    }

    void Remove(int index) {
        ++removals_;
        ++removing;
        try {
            engine_.RemoveTask(index);
        } catch (const Exception&) {
            // Gone already: a handler on a worker removed or cleared meanwhile.
        }
        --removing;
    }

    // The last task added joins the run going, if one goes.
    void JoinLast() {
        try {
            if (const int count = engine_.TaskCount(); count > 0) engine_.JoinRun(count - 1);
        } catch (const Exception&) {
            // Gone already: a handler on a worker removed or cleared meanwhile.
        }
    }

    void RemoveSome() {
        const int count = engine_.TaskCount();
        if (count > 0) Remove(Pick(count));
    }

    void Clear() {
        ++removals_;
        ++removing;
        engine_.ClearTasks();
        --removing;
    }

    void Reload() {
        engine_.UnloadLibraries();
        if (!engine_.LoadLibraries("")) Fail("LoadLibraries: " + engine_.LastErrorText());
    }

    void Terminated(int index) {
        if (index < 0) return;
        if (index >= engine_.TaskCount()) {
            Fail("terminate under index " + std::to_string(index) + " of " + std::to_string(engine_.TaskCount()));
            return;
        }
        TFFmpeg* task = engine_.Task(index);
        const std::string id = task->InputOptions.FileName;
        bool again;
        {
            std::lock_guard<std::mutex> guard(rng_lock_);
            again = !terminated_.insert(id).second;
        }
        if (again) Fail("second terminate of " + id);
        ++ended_;
        // Raised on the task's own thread, unless it comes from a removal.
        const std::thread::id ran_on = task->thread_id.load();
        if (removing == 0) {
            if (!task->terminated.load()) Fail("terminate of " + id + " before it ended");
            if (ran_on != std::thread::id() && ran_on != std::this_thread::get_id())
                Fail("terminate of " + id + " on another task's thread");
        }
        switch (Pick(12)) {
            case 0: Remove(index); break;
            case 1: Clear(); break;
            case 2: engine_.StopConvert(); break;
            case 3:
            case 4: loop_.RunAndWait([] {}); break;
            case 5: LibraryLog(nullptr, AV_LOG_INFO, "from a terminate handler\n"); break;
            default: break;
        }
    }

    void Progressed(int index) {
        if (index < 0 || index >= engine_.TaskCount()) {
            Fail("progress under index " + std::to_string(index));
            return;
        }
        if (engine_.Task(index)->thread_id.load() != std::this_thread::get_id())
            Fail("progress under the index of another task");
        if (Pick(4) == 0) loop_.RunAndWait([] {});
    }

    TDAzaduVED& engine_;
    TEventLoopWindowThread& loop_;
    std::string input_;
    const TempDir& dir_;
    std::mutex rng_lock_;
    std::mt19937 rng_;
    int made_ = 0;
    std::set<std::string> terminated_;
    std::atomic<int> failures_{0};
    std::atomic<int> ended_{0};
    std::atomic<int> removals_{0};
    std::string first_failure_;
};

int SequencesPerCase() {
    const char* text = std::getenv("ARDENTIX_STRESS_SEQUENCES");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 35;
}

}  // namespace

TEST(EngineStressTest, RandomCallSequencesNeverHangNorMisnameATask) {
    TEventLoopWindowThread loop;
    TempDir dir;
    const std::string input = MakeWav(dir, "short.wav", 0.05, 8000, 1);
    const int sequences = SequencesPerCase();
    int ended = 0;
    for (int threads : {0, 1, 2, 8}) {
        for (TLogLevel level : {llQuiet, llError, llInfo, llDebug, llAll}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", level " + std::to_string(level));
            auto engine = std::make_unique<TDAzaduVED>(&loop);
            ASSERT_TRUE(engine->LoadLibraries("")) << engine->LastErrorText();
            engine->SetLogLevel(level);
            engine->SetProgressInterval(100);
            TStress stress(*engine, loop, input, dir, static_cast<uint32_t>(threads * 10 + level));
            stress.Attach();
            {
                // Five minutes for the usual count, more for a longer soak.
                TWatchdog watchdog("stress sequences with " + std::to_string(threads) + " threads",
                                   std::chrono::seconds(300) * std::max(1, sequences / 35));
                for (int s = 0; s < sequences; ++s) stress.Sequence(threads, 8);
                engine.reset();
            }
            EXPECT_EQ(stress.Failures(), 0) << stress.FirstFailure();
            ended += stress.Ended();
        }
    }
    WaitForTaskThreads();
    // The sequences did run tasks to their end, not only add and clear them.
    EXPECT_GT(ended, 0);
}
