// The engine under the calls a window makes while workers run: removing and
// clearing from handlers and from the window's thread, handlers that wait for
// the window's thread or throw, a system that gives no thread, log lines of a
// task's helper threads, and calls made before the libraries are loaded. Each
// step that could hang runs under a watchdog.
#include <filesystem>
#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <stdexcept>

#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

// Threads made on the thread named here are refused, the way a system out of
// threads refuses them; every other thread is made as usual.
std::atomic<std::thread::id> refuse_threads_on{};

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto next = reinterpret_cast<TCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (refuse_threads_on.load() == std::this_thread::get_id()) return EAGAIN;
    return next(thread, attr, start, arg);
}

namespace {

class EngineConcurrencyTest : public EngineTest {
protected:
    // Long enough that the run is still going while the test acts on it.
    std::string LongInput(const std::string& name, double seconds = 30.0) {
        return MakeRealAc3(dir, name, seconds, 44100, 2);
    }
    // Input only: tasks that can never start.
    void AddInputOnlyTasks(int n) {
        const std::string src = MakeRealAc3(dir, "open.rm", 0.5);
        for (int i = 0; i < n; ++i) ASSERT_EQ(engine->AddTask(src), i) << engine->LastErrorText();
    }
    // The terminate events of task indices (not the end of the run).
    std::vector<TEvent> TaskEnds() const {
        std::vector<TEvent> out;
        for (const TEvent& e : recorder.Of('t'))
            if (e.index >= 0) out.push_back(e);
        return out;
    }
};

}  // namespace

TEST_F(EngineConcurrencyTest, FreeingTasksWhoseClosingLogsNeverHangs) {
    // Freeing a task may write library lines at the debug levels; they come in
    // on the thread that frees the task, inside the removing call.
    struct TCase {
        const char* name;
        TLogLevel level;
        std::function<void(TDAzaduVED&)> remove;
    };
    const std::vector<TCase> cases = {
        {"ClearTasks at debug", llDebug, [](TDAzaduVED& e) { e.ClearTasks(); }},
        {"ClearTasks at all", llAll, [](TDAzaduVED& e) { e.ClearTasks(); }},
        {"RemoveTask at debug", llDebug, [](TDAzaduVED& e) { e.RemoveTask(1); }},
        {"RemoveTask at all", llAll, [](TDAzaduVED& e) { e.RemoveTask(0); }},
        {"UnloadLibraries at debug", llDebug, [](TDAzaduVED& e) { e.UnloadLibraries(); }},
        {"UnloadLibraries at all", llAll, [](TDAzaduVED& e) { e.UnloadLibraries(); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!engine->LibrariesLoaded()) ASSERT_TRUE(engine->LoadLibraries(""));
        engine->ClearTasks();
        engine->SetLogLevel(llQuiet);
        AddInputOnlyTasks(2);
        engine->SetLogLevel(c.level);
        {
            TWatchdog watchdog(c.name);
            c.remove(*engine);
        }
        EXPECT_LT(engine->TaskCount(), 2);
        // Lines of a task that is gone carry no index of the list.
        for (const TEvent& e : recorder.Of('l')) EXPECT_LT(e.index, engine->TaskCount()) << e.text;
    }
    engine->SetLogLevel(llQuiet);
    if (!engine->LibrariesLoaded()) ASSERT_TRUE(engine->LoadLibraries(""));
}

TEST_F(EngineConcurrencyTest, HandlersThatRemoveTheirTaskGetTheirOwnIndexWithSeveralThreads) {
    // A handler that removes its task shifts the tasks after it while the
    // other workers wait for the event lock with records of their own: each
    // record must still name the task it is about (raised on that task's thread).
    for (int threads : {2, 3}) {
        SCOPED_TRACE(threads);
        engine->ClearTasks();
        std::map<std::string, int> ended;  // input file -> terminate events
        std::atomic<int> wrong{0};
        std::mutex lock;
        const int count = 5;
        for (int i = 0; i < count; ++i) {
            const std::string src = LongInput("t" + std::to_string(threads) + "_" + std::to_string(i) + ".rm", 3.0);
            ASSERT_EQ(AddMp3Task(src, dir.File("o" + std::to_string(i) + ".mp3")), i);
        }
        engine->SetProgressInterval(100);
        engine->SetOnProgress([&](int index, int, int, int, float, float, int64_t, int) {
            if (index < 0 || index >= engine->TaskCount() ||
                engine->Task(index)->thread_id.load() != std::this_thread::get_id())
                ++wrong;
        });
        engine->SetOnTerminate([&](int index, bool finished, bool, const std::string&) {
            if (index < 0) {
                ++recorder.end_of_runs;
                loop.Wake();
                return;
            }
            TFFmpeg* task = engine->Task(index);
            if (task->thread_id.load() != std::this_thread::get_id() || !task->terminated) ++wrong;
            EXPECT_TRUE(finished);
            {
                std::lock_guard<std::mutex> guard(lock);
                ++ended[task->InputOptions.FileName];
            }
            // Long enough for the other workers to queue up behind this handler.
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            engine->RemoveTask(index);
        });
        recorder.end_of_runs = 0;
        engine->StartConvert(threads);
        {
            TWatchdog watchdog("run that removes its tasks");
            ASSERT_TRUE(recorder.WaitEndOfRun());
        }
        EXPECT_EQ(wrong.load(), 0);
        EXPECT_EQ(engine->TaskCount(), 0);
        ASSERT_EQ(ended.size(), static_cast<size_t>(count));
        for (const auto& [file, n] : ended) EXPECT_EQ(n, 1) << file;
        for (int i = 0; i < count; ++i) EXPECT_TRUE(DecodeMp3(dir.File("o" + std::to_string(i) + ".mp3")).ok) << i;
    }
}

TEST_F(EngineConcurrencyTest, ATaskAddedAfterClearingARunDoesNotStartByItself) {
    // The window's Stop: clear in the middle of a run, then the user adds a
    // file; it waits for the next StartConvert, on no thread at all.
    for (int threads : {0, 1, 2}) {
        SCOPED_TRACE(threads);
        engine->ClearTasks();
        recorder.end_of_runs = 0;
        ASSERT_EQ(AddMp3Task(LongInput("a.rm"), dir.File("a.mp3")), 0);
        ASSERT_EQ(AddMp3Task(LongInput("b.rm"), dir.File("b.mp3")), 1);
        ASSERT_EQ(AddMp3Task(LongInput("c.rm"), dir.File("c.mp3")), 2);
        engine->SetProgressInterval(100);
        const size_t progress = recorder.Of('p').size();
        engine->StartConvert(threads);
        if (threads > 0)
            ASSERT_TRUE(loop.RunUntil([&] { return recorder.Of('p').size() > progress; }));
        const size_t terminates = recorder.Of('t').size();
        engine->ClearTasks();
        ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "late.rm", 0.5), dir.File("late.mp3")), 0);
        ASSERT_TRUE(recorder.WaitEndOfRun());
        // Time for a timer of the cleared run to fire, were one left.
        loop.RunUntil([] { return false; }, std::chrono::milliseconds(400));
        TFFmpeg* late = engine->Task(0);
        EXPECT_FALSE(late->running.load());
        EXPECT_FALSE(late->terminated.load());
        const auto t = recorder.Of('t');
        ASSERT_GT(t.size(), terminates);
        EXPECT_EQ(t.back().index, -1);
        EXPECT_EQ(recorder.end_of_runs.load(), 1);
        // What the cleared run raised after the clearing: its started tasks,
        // each once and unfinished, then its end.
        for (size_t i = terminates; i + 1 < t.size(); ++i) EXPECT_FALSE(t[i].terminate.Finished);
        EXPECT_LE(t.size() - terminates, static_cast<size_t>(std::max(threads, 1)) + 1);
        // And the late task still runs when asked to.
        engine->StartConvert(1);
        ASSERT_TRUE(recorder.WaitEndOfRun(2));
        EXPECT_TRUE(recorder.Of('t')[recorder.Of('t').size() - 2].terminate.Finished);
        EXPECT_TRUE(DecodeMp3(dir.File("late.mp3")).ok);
    }
}

TEST_F(EngineConcurrencyTest, TheWindowAddsTasksWhileATerminateHandlerWaitsForIt) {
    // The usual Qt pattern: the terminate handler hands the row to the
    // window's thread and blocks until it has run; meanwhile the window adds
    // files, whose option warnings are core lines.
    engine->SetLogLevel(llInfo);
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "first.rm", 0.5), dir.File("first.mp3")), 0);
    std::atomic<bool> in_handler{false};
    recorder.on_terminate = [&](int index) {
        if (index != 0) return;
        in_handler = true;
        loop.RunAndWait([] {});
    };
    engine->StartConvert(1);
    while (!in_handler.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    int index;
    {
        TWatchdog watchdog("AddTask and SetOutputFile beside a waiting handler");
        TInputOptions in;
        index = engine->AddTask(MakeRealAc3(dir, "second.rm", 0.5), &in);
        ASSERT_EQ(index, 1) << engine->LastErrorText();
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        out.ExtOptions = "ab=64";  // bits, not kbits: the core warns
        out.AudioBitrate = 128000;
        EXPECT_TRUE(engine->SetOutputFile(index, dir.File("second.mp3"), &out)) << engine->LastErrorText();
    }
    ASSERT_TRUE(recorder.WaitEndOfRun());
    // A task added during a run waits for the next one.
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, -1}));
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun(2));
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, -1, 1, -1}));
    EXPECT_TRUE(DecodeMp3(dir.File("second.mp3")).ok);
    bool warned = false;
    for (const TEvent& e : recorder.Of('l'))
        if (e.text.find("bitrate parameter is set too low") != std::string::npos) {
            warned = true;
            EXPECT_EQ(e.index, 1);
            EXPECT_EQ(e.level, llInfo);
        }
    EXPECT_TRUE(warned);
}

TEST_F(EngineConcurrencyTest, CoreLinesTakeNoLockWhenNobodyListens) {
    // Without OnLog a core line on the window's thread is not held up by a
    // handler that keeps the event lock.
    engine->SetOnLog(nullptr);
    engine->SetLogLevel(llInfo);
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "first.rm", 0.5), dir.File("first.mp3")), 0);
    std::atomic<bool> in_handler{false}, release{false};
    recorder.on_terminate = [&](int index) {
        if (index != 0) return;
        in_handler = true;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    engine->StartConvert(1);
    while (!in_handler.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    {
        TWatchdog watchdog("a core line without a receiver");
        const int index = engine->AddTask(MakeRealAc3(dir, "second.rm", 0.5));
        ASSERT_EQ(index, 1);
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        out.ExtOptions = "ab=64";
        EXPECT_TRUE(engine->SetOutputFile(index, dir.File("second.mp3"), &out));
    }
    release = true;
    ASSERT_TRUE(recorder.WaitEndOfRun());
}

TEST_F(EngineConcurrencyTest, StopWhenTheSystemGivesNoThreadEndsEveryTaskHere) {
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "in" + std::to_string(i) + ".rm", 0.5),
                             dir.File("out" + std::to_string(i) + ".mp3")),
                  i);
    {
        TWatchdog watchdog("StopConvert without threads");
        refuse_threads_on = std::this_thread::get_id();
        engine->StopConvert();
        refuse_threads_on = std::thread::id();
    }
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i].index, i);
        EXPECT_FALSE(t[i].terminate.Finished);
        EXPECT_FALSE(t[i].terminate.Exception);
        // No thread of its own: it ended on the thread that stopped it.
        EXPECT_EQ(t[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(t[3].index, -1);
    // Never-run tasks leave no file behind.
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(std::ifstream(dir.File("out" + std::to_string(i) + ".mp3")).good());
}

TEST_F(EngineConcurrencyTest, AStartWithoutAThreadEndsTheTaskWithTheReasonAndTheRunGoesOn) {
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "a.rm", 0.5), dir.File("a.mp3")), 0);
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "b.rm", 0.5), dir.File("b.mp3")), 1);
    {
        TWatchdog watchdog("StartConvert without threads");
        refuse_threads_on = std::this_thread::get_id();
        engine->StartConvert(1);
        refuse_threads_on = std::thread::id();
    }
    ASSERT_TRUE(recorder.WaitEndOfRun());
    // The next one is started from the failed one's end, on the same refusing
    // thread: both end once, with the system's reason.
    const auto t = TaskEnds();
    ASSERT_EQ(t.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(t[i].index, i);
        EXPECT_FALSE(t[i].terminate.Finished);
        EXPECT_TRUE(t[i].terminate.Exception);
        EXPECT_FALSE(t[i].terminate.Message.empty());
    }
    // The reason also went to the log at the quiet level.
    int logged = 0;
    for (const TEvent& e : recorder.Of('l')) logged += e.level == llQuiet && e.text == t[0].terminate.Message;
    EXPECT_EQ(logged, 2);
    EXPECT_FALSE(std::ifstream(dir.File("a.mp3")).good());
}

TEST_F(EngineConcurrencyTest, LibraryLinesOfATasksEncoderThreadCarryItsIndex) {
    engine->SetLogLevel(llAll);
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "in.rm", 1.0), dir.File("out.mp3")), 0);
    std::atomic<std::thread::id> encoder{};
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        while (!stop.load()) {
            if (engine->TaskCount() > 0) {
                const std::thread::id helper = engine->Task(0)->helper_thread_id.load();
                if (helper != std::thread::id()) encoder = helper;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const size_t before = recorder.Events().size();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    stop = true;
    watcher.join();
    // The encoder ran on a thread of its own, known to the task while it ran.
    ASSERT_NE(encoder.load(), std::thread::id());
    EXPECT_NE(encoder.load(), recorder.Of('t')[0].thread);
    // Every line written while the task ran is its own: no -1 from its helpers.
    const auto events = recorder.Events();
    for (size_t i = before; i < events.size(); ++i) {
        const TEvent& e = events[i];
        if (e.kind == 't') break;
        if (e.kind == 'l') EXPECT_EQ(e.index, 0) << e.text;
    }
}

TEST_F(EngineConcurrencyTest, ALibraryLineFromAHelperThreadOfARunningTaskCarriesItsIndex) {
    // The encoder is not asked to log; a line written on its thread is
    // attributed the same way as any other.
    engine->SetLogLevel(llInfo);
    ASSERT_EQ(AddMp3Task(LongInput("long.rm"), dir.File("long.mp3")), 0);
    engine->SetProgressInterval(100);
    engine->StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] {
        return engine->Task(0)->helper_thread_id.load() != std::thread::id() && !recorder.Of('p').empty();
    }));
    // Stand in for the helper: a thread whose identity the task carries.
    std::atomic<bool> written{false};
    std::thread helper([&] {
        engine->Task(0)->helper_thread_id = std::this_thread::get_id();
        LibraryLog(nullptr, AV_LOG_ERROR, "from the helper\n");
        written = true;
    });
    helper.join();
    engine->StopConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    bool seen = false;
    for (const TEvent& e : recorder.Of('l'))
        if (e.text == "from the helper") {
            seen = true;
            EXPECT_EQ(e.index, 0);
        }
    EXPECT_TRUE(seen);
}

// A thread the task does not know (a decoder's frame thread, one of x264's)
// logs with a context of the task: the line is the task's. A context nobody
// marked, or one marked with a task that does not run, gives -1.
TEST_F(EngineConcurrencyTest, ALibraryLineLoggedWithAContextOfARunningTaskCarriesItsIndex) {
    engine->SetLogLevel(llInfo);
    ASSERT_EQ(AddMp3Task(LongInput("long.rm"), dir.File("long.mp3")), 0);
    ASSERT_EQ(AddMp3Task(LongInput("second.rm", 1.0), dir.File("second.mp3")), 1);
    engine->SetProgressInterval(100);
    engine->StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('p').empty(); }));
    struct TCase {
        const char* text;
        const void* owner;  // what the context is marked with
        int index;          // the index the line arrives with
    };
    const TCase cases[] = {
        {"marked with the running task", static_cast<TCustomFFmpeg*>(engine->Task(0)), 0},
        {"marked with a task that waits", static_cast<TCustomFFmpeg*>(engine->Task(1)), -1},
        {"marked with nothing", nullptr, -1},
    };
    std::thread stranger([&] {
        for (const TCase& c : cases) {
            AVCodecContext* ctx = avcodec.avcodec_alloc_context3(nullptr);
            ctx->opaque = const_cast<void*>(c.owner);
            LibraryLog(ctx, AV_LOG_ERROR, "%s\n", c.text);
            avcodec.avcodec_free_context(&ctx);
        }
    });
    stranger.join();
    engine->StopConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        int seen = 0;
        for (const TEvent& e : recorder.Of('l'))
            if (e.text.find(c.text) != std::string::npos) {
                ++seen;
                EXPECT_EQ(e.index, c.index);
            }
        EXPECT_EQ(seen, 1);
    }
}

// A damaged H.264 input: the decoder's frame threads report the damage on
// threads of the library's own, and x264 encodes on its own threads too. Every
// line of the run is the task's.
TEST_F(EngineConcurrencyTest, LinesTheLibrariesLogOnTheirOwnThreadsCarryTheTasksIndex) {
    const std::string src = MakeFixture(dir, "in.rm", "rm-video",
                                        {"--video", "rv20", "--fps", "25", "--size", "320x240", "--seconds", "3"});
    auto add_mp4_task = [&](const std::string& input, const std::string& output) {
        const int index = engine->AddTask(input);
        TOutputOptions out;
        out.FileName = output;
        out.FileExt = ".mp4";
        out.VideoCodec = "libx264";
        out.AudioCodec = "aac";
        out.AudioChannels = 2;
        out.AudioSampleRate = 44100;
        EXPECT_TRUE(engine->SetOutputFile(index, output, &out)) << engine->LastErrorText();
        return index;
    };
    ASSERT_EQ(add_mp4_task(src, dir.File("clean.mp4")), 0);
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_TRUE(TaskEnds()[0].terminate.Finished);
    // Damage the coded pictures (the media data comes first, the index last).
    std::string bytes = ReadFileBytes(dir.File("clean.mp4"));
    ASSERT_GT(bytes.size(), 20000u);
    for (size_t i = bytes.size() / 10; i < bytes.size() * 6 / 10; i += 61) bytes[i] = static_cast<char>(~bytes[i]);
    WriteFileBytes(dir.File("damaged.mp4"), bytes);
    engine->ClearTasks();

    engine->SetLogLevel(llInfo);
    ASSERT_EQ(add_mp4_task(dir.File("damaged.mp4"), dir.File("again.mp4")), 0);
    const size_t before = recorder.Events().size();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun(2));
    const auto events = recorder.Events();
    int decoder_lines = 0;
    for (size_t i = before; i < events.size(); ++i) {
        const TEvent& e = events[i];
        if (e.kind == 't') break;
        if (e.kind != 'l') continue;
        EXPECT_EQ(e.index, 0) << e.text;
        decoder_lines += e.text.rfind("[h264 @", 0) == 0;
    }
    EXPECT_GT(decoder_lines, 0) << "the damage went unnoticed";
}

TEST_F(EngineConcurrencyTest, CallsBeforeTheLibrariesAreLoadedAnswerInsteadOfCrashing) {
    engine->UnloadLibraries();
    ASSERT_FALSE(engine->LibrariesLoaded());
    const std::string src = dir.File("none.rm");  // never opened
    // The probe: opening raises naming the library, the rest answers -1.
    struct TCase {
        const char* name;
        std::function<void(TAVProbe&)> call;
        bool raises;
    };
    const std::vector<TCase> cases = {
        {"Open", [&](TAVProbe& p) { p.Open(src); }, true},
        {"Attach", [](TAVProbe& p) { p.Attach(nullptr); }, true},
        {"GetFileInfo",
         [](TAVProbe& p) {
             TAVFileInfo info;
             p.GetFileInfo(info);
             EXPECT_EQ(info.Duration, -1);
             EXPECT_EQ(info.StartTime, -1);
         },
         false},
        {"GetFileSize", [](TAVProbe& p) { EXPECT_EQ(p.GetFileSize(), -1); }, false},
        {"Close", [](TAVProbe& p) { p.Close(); }, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TAVProbe probe;
        if (c.raises) {
            try {
                c.call(probe);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message, "LibAVCodec not loaded.");
            }
        } else {
            EXPECT_NO_THROW(c.call(probe));
        }
        EXPECT_EQ(probe.StreamCount(), -1);
    }
    EXPECT_EQ(engine->AddTask(src), -1);
    EXPECT_EQ(engine->LastErrorText(), "LibAVCodec not loaded.");
    TInputOptions in;
    EXPECT_EQ(engine->AddTask(src, &in), -1);
    EXPECT_EQ(engine->TaskCount(), 0);
    // The rest of the component is harmless without them.
    engine->StartConvert(1);
    engine->StopConvert();
    engine->ClearTasks();
    engine->SetLogLevel(llDebug);
    EXPECT_TRUE(recorder.Of('t').empty());
    ASSERT_TRUE(engine->LoadLibraries("")) << engine->LastErrorText();
    engine->SetLogLevel(llQuiet);
}

TEST_F(EngineConcurrencyTest, AThrowingTerminateHandlerStillLetsTheRunGoOnAndEnd) {
    for (int threads : {0, 1, 2}) {
        SCOPED_TRACE(threads);
        engine->ClearTasks();
        recorder.end_of_runs = 0;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "in" + std::to_string(i) + ".rm", 0.5),
                                 dir.File("out" + std::to_string(i) + ".mp3")),
                      i);
        std::atomic<int> thrown{0};
        recorder.on_terminate = [&](int index) {
            if (index >= 0) {
                ++thrown;
                throw std::runtime_error("handler failed");
            }
        };
        const size_t before = recorder.Of('t').size();
        engine->StartConvert(threads);
        // On the window's thread the handler's exception comes out of the loop.
        int caught = 0;
        TWatchdog watchdog("run with a throwing handler");
        for (;;) {
            try {
                if (loop.RunUntil([&] { return recorder.end_of_runs.load() >= 1; })) break;
                FAIL() << "the run did not end";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "handler failed");
                ++caught;
            }
        }
        EXPECT_EQ(thrown.load(), 3);
        EXPECT_EQ(caught, threads == 0 ? 3 : 0);
        EXPECT_FALSE(engine->Running());
        // The throwing handler recorded nothing; the end of the run came once.
        const auto t = recorder.Of('t');
        ASSERT_EQ(t.size(), before + 1);
        EXPECT_EQ(t.back().index, -1);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(DecodeMp3(dir.File("out" + std::to_string(i) + ".mp3")).ok) << i;
        recorder.on_terminate = nullptr;
    }
    // And the component still goes away.
    TWatchdog watchdog("destroying the component");
    engine.reset();
}

TEST_F(EngineConcurrencyTest, RemovedRunningTasksEndWithOneTerminateUnderTheirIndex) {
    // Removal by the window and by a handler, of the running task and of
    // another one: each started task ends with exactly one OnTerminate, the
    // removed ones unfinished and under the index they had.
    struct TCase {
        const char* name;
        int threads;
        std::function<void(TDAzaduVED&)> act;  // on the window's thread during the run
    };
    const std::vector<TCase> cases = {
        {"RemoveTask of the running task", 1, [](TDAzaduVED& e) { e.RemoveTask(0); }},
        {"RemoveTask of the second of two running", 2, [](TDAzaduVED& e) { e.RemoveTask(1); }},
        {"ClearTasks with two running", 2, [](TDAzaduVED& e) { e.ClearTasks(); }},
        {"StopConvert then ClearTasks", 2,
         [](TDAzaduVED& e) {
             e.StopConvert();
             e.ClearTasks();
         }},
    };
    // Long enough that no task can end by itself before the case acts, however fast the machine.
    std::vector<std::string> inputs;
    for (int i = 0; i < 3; ++i) inputs.push_back(LongInput("r" + std::to_string(i) + ".rm", 120.0));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        engine->ClearTasks();
        recorder.end_of_runs = 0;
        const size_t before = recorder.Of('t').size();
        for (int i = 0; i < 3; ++i) {
            // A stopped task keeps its shorter file only where the name is free.
            std::filesystem::remove(dir.File("r" + std::to_string(i) + ".mp3"));
            ASSERT_EQ(AddMp3Task(inputs[static_cast<size_t>(i)], dir.File("r" + std::to_string(i) + ".mp3")), i);
        }
        engine->SetProgressInterval(100);
        const size_t progress = recorder.Of('p').size();
        engine->StartConvert(c.threads);
        ASSERT_TRUE(loop.RunUntil([&] { return recorder.Of('p').size() >= progress + c.threads * 2; }));
        // The task each OnTerminate names, looked up while the handler runs.
        std::map<std::string, int> ended;
        recorder.on_terminate = [&](int index) {
            if (index >= 0) ++ended[engine->Task(index)->InputOptions.FileName];
        };
        {
            TWatchdog watchdog(c.name);
            c.act(*engine);
        }
        // Whatever is left is stopped so that the case ends soon.
        engine->StopConvert();
        ASSERT_TRUE(recorder.WaitEndOfRun());
        WaitForTaskThreads();
        recorder.on_terminate = nullptr;
        const auto t = recorder.Of('t');
        for (size_t i = before; i < t.size(); ++i) {
            if (t[i].index < 0) continue;
            EXPECT_FALSE(t[i].terminate.Finished) << t[i].index;
            EXPECT_FALSE(t[i].terminate.Exception) << t[i].terminate.Message;
        }
        EXPECT_EQ(t.back().index, -1);
        EXPECT_EQ(recorder.end_of_runs.load(), 1);
        // Every task that was started ended once, under its own index.
        EXPECT_GE(ended.size(), static_cast<size_t>(c.threads));
        for (const auto& [file, n] : ended) EXPECT_EQ(n, 1) << file;
        // The started ones were closed properly before the run ended.
        for (int i = 0; i < c.threads; ++i) EXPECT_TRUE(DecodeMp3(dir.File("r" + std::to_string(i) + ".mp3")).ok) << i;
    }
}

TEST_F(EngineConcurrencyTest, AHandlerThatRemovesAnotherRunningTaskGetsItsTerminateInside) {
    ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "short.rm", 0.5), dir.File("short.mp3")), 0);
    ASSERT_EQ(AddMp3Task(LongInput("long.rm"), dir.File("long.mp3")), 1);
    std::vector<std::pair<int, bool>> order;  // index, inside the outer handler
    std::atomic<int> depth{0};
    engine->SetOnTerminate([&](int index, bool finished, bool, const std::string&) {
        order.emplace_back(index, depth.load() > 0);
        if (index == 0) {
            EXPECT_TRUE(finished);
            ++depth;
            engine->RemoveTask(1);  // the long one, still running on the other worker
            --depth;
        } else if (index == 1) {
            EXPECT_FALSE(finished);
        } else {
            ++recorder.end_of_runs;
            loop.Wake();
        }
    });
    engine->StartConvert(2);
    {
        TWatchdog watchdog("run whose handler removes the other task");
        ASSERT_TRUE(recorder.WaitEndOfRun());
    }
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], std::make_pair(0, false));
    EXPECT_EQ(order[1], std::make_pair(1, true));
    EXPECT_EQ(order[2].first, -1);
    WaitForTaskThreads();
    EXPECT_TRUE(DecodeMp3(dir.File("long.mp3")).ok);
}
