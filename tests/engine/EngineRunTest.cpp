// Runs of the engine component: the order and number of the termination
// events with 0, 1 and 2 threads, stopping, removing and clearing tasks while
// a run goes, and the start checks.
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

void ExpectCompleted(const TEvent& e) {
    EXPECT_TRUE(e.terminate.Finished) << "task " << e.index;
    EXPECT_FALSE(e.terminate.Exception) << e.terminate.Message;
    EXPECT_EQ(e.terminate.Message, "");
}

void ExpectEndOfRunLastAndOnce(const std::vector<TEvent>& terminates) {
    ASSERT_FALSE(terminates.empty());
    int ends = 0;
    for (const TEvent& e : terminates) ends += e.index < 0;
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(terminates.back().index, -1);
    EXPECT_TRUE(terminates.back().terminate.Finished);
    EXPECT_FALSE(terminates.back().terminate.Exception);
    EXPECT_EQ(terminates.back().terminate.Message, "");
}

}  // namespace

TEST_F(EngineTest, OneThreadRunsTheTasksInOrderOnWorkers) {
    AddThreeTasks();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
    ExpectEndOfRunLastAndOnce(t);
    for (size_t i = 0; i < 3 && i < t.size(); ++i) {
        ExpectCompleted(t[i]);
        EXPECT_NE(t[i].thread, std::this_thread::get_id());
    }
    // The end-of-run event comes inside the last task's terminate call, on its thread.
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[3].thread, t[2].thread);
    EXPECT_FALSE(engine->Running());
    for (int i = 0; i < 3; ++i) {
        const DecodedAudio mp3 = DecodeMp3(dir.File("out" + std::to_string(i) + ".mp3"));
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_NEAR(mp3.Seconds(), 1.0, 0.1);
    }
}

TEST_F(EngineTest, TwoThreadsEndEveryTaskOnceAndTheRunLast) {
    AddThreeTasks();
    engine->StartConvert(2);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 4u);
    ExpectEndOfRunLastAndOnce(t);
    std::multiset<int> indexes;
    for (size_t i = 0; i < 3; ++i) {
        indexes.insert(t[i].index);
        ExpectCompleted(t[i]);
        EXPECT_NE(t[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(indexes, (std::multiset<int>{0, 1, 2}));
    // Task 2 starts only when one of the first two has ended: its first record
    // (every finished task makes at least a final one) follows that end.
    const auto events = recorder.Events();
    size_t first_end = events.size(), first_of_2 = events.size();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == 't' && first_end == events.size()) first_end = i;
        if (events[i].kind == 'p' && events[i].index == 2 && first_of_2 == events.size()) first_of_2 = i;
    }
    ASSERT_LT(first_of_2, events.size());
    EXPECT_GT(first_of_2, first_end);
    EXPECT_NE(events[first_end].index, 2);
}

TEST_F(EngineTest, ThreadCountZeroRunsEveryTaskOnTheWindowThread) {
    AddThreeTasks();
    engine->StartConvert(0);
    // Nothing runs before the window's thread gets to its timer.
    EXPECT_TRUE(recorder.Of('t').empty());
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
    for (const TEvent& e : recorder.Events()) EXPECT_EQ(e.thread, std::this_thread::get_id()) << e.kind;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(DecodeMp3(dir.File("out" + std::to_string(i) + ".mp3")).ok);
}

TEST_F(EngineTest, ThreadCountAboveTheTaskCountStartsThemAll) {
    AddThreeTasks();
    engine->StartConvert(8);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(recorder.Of('t').size(), 4u);
    ExpectEndOfRunLastAndOnce(recorder.Of('t'));
}

TEST_F(EngineTest, StartWithAnEmptyListRaisesNothing) {
    engine->StartConvert(1);
    engine->StartConvert(0);
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(recorder.Events().empty());
    EXPECT_FALSE(engine->Running());
}

TEST_F(EngineTest, EndedTasksAreNotStartedAgain) {
    AddThreeTasks();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const size_t before = recorder.Events().size();
    engine->StartConvert(1);
    engine->StopConvert();
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(recorder.Events().size(), before);
}

TEST_F(EngineTest, StopEndsEveryTaskNotEndedWhateverRanBefore) {
    // Each case: what the engine did before, then three tasks never started
    // that StopConvert ends, each once, on one thread of their own.
    const struct {
        const char* before;
        std::function<void()> run;
        int first_index;
    } cases[] = {
        {"nothing", [] {}, 0},
        {"a run, then ClearTasks", [&] {
             AddThreeTasks();
             engine->StartConvert(1);
             ASSERT_TRUE(recorder.WaitEndOfRun(recorder.end_of_runs + 1));
             engine->ClearTasks();
         }, 0},
        {"a run left in the list", [&] {
             AddThreeTasks();
             engine->StartConvert(2);
             ASSERT_TRUE(recorder.WaitEndOfRun(recorder.end_of_runs + 1));
         }, 3},
        {"a stop, then ClearTasks", [&] {
             AddThreeTasks();
             engine->StopConvert();
             ASSERT_TRUE(recorder.WaitEndOfRun(recorder.end_of_runs + 1));
             engine->ClearTasks();
         }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        engine->ClearTasks();
        c.run();
        const size_t seen = recorder.Of('t').size();
        for (int i = 0; i < 3; ++i) {
            const std::string src = MakeRealAc3(dir, "late" + std::to_string(i) + ".rm", 1.0, 44100, 2);
            ASSERT_EQ(AddMp3Task(src, dir.File("late" + std::to_string(i) + ".mp3")), c.first_index + i);
        }
        const int runs = recorder.end_of_runs;
        engine->StopConvert();
        ASSERT_TRUE(recorder.WaitEndOfRun(runs + 1));
        auto all = recorder.Of('t');
        const std::vector<TEvent> t(all.begin() + static_cast<long>(seen), all.end());
        ASSERT_EQ(t.size(), 4u);
        ExpectEndOfRunLastAndOnce(t);
        std::multiset<int> indexes;
        for (size_t i = 0; i < 3; ++i) {
            indexes.insert(t[i].index);
            EXPECT_FALSE(t[i].terminate.Finished);
            EXPECT_FALSE(t[i].terminate.Exception);
            EXPECT_EQ(t[i].terminate.Message, "");
            EXPECT_NE(t[i].thread, std::this_thread::get_id());
            EXPECT_EQ(t[i].thread, t[0].thread);
        }
        EXPECT_EQ(indexes, (std::multiset<int>{c.first_index, c.first_index + 1, c.first_index + 2}));
        // Stopping twice ends nothing twice, and an ended task never starts.
        engine->StopConvert();
        engine->StartConvert(1);
        loop.RunUntil([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_EQ(recorder.Of('t').size(), seen + 4);
        EXPECT_FALSE(std::ifstream(dir.File("late0.mp3")).good()) << "an empty output is not left behind";
    }
}

TEST_F(EngineTest, StopDuringTheRunEndsTheRunningFileShortAndTheRestUnrun) {
    for (int i = 0; i < 3; ++i) {
        const std::string src = MakeRealAc3(dir, "long" + std::to_string(i) + ".rm", 60.0, 44100, 2);
        ASSERT_EQ(AddMp3Task(src, dir.File("out" + std::to_string(i) + ".mp3")), i);
    }
    engine->SetProgressInterval(100);
    engine->StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] {
        for (const TEvent& e : recorder.Of('p'))
            if (e.progress.CurrentDuration >= 2000) return true;
        return false;
    }));
    engine->StopConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 4u);
    // The unrun tasks end on threads of their own, maybe before the running one.
    std::multiset<int> indexes;
    for (size_t i = 0; i < 3; ++i) {
        indexes.insert(t[i].index);
        EXPECT_FALSE(t[i].terminate.Finished);
        EXPECT_FALSE(t[i].terminate.Exception) << t[i].terminate.Message;
    }
    EXPECT_EQ(indexes, (std::multiset<int>{0, 1, 2}));
    ExpectEndOfRunLastAndOnce(t);
    // The stopped file was closed properly: a valid, shorter MP3.
    const DecodedAudio mp3 = DecodeMp3(dir.File("out0.mp3"));
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_GT(mp3.Seconds(), 1.5);
    EXPECT_LT(mp3.Seconds(), 59.0);
    engine->ClearTasks();
    EXPECT_FALSE(std::ifstream(dir.File("out1.mp3")).good());
}

TEST_F(EngineTest, AStartedTaskTakesNoFurtherOutput) {
    AddThreeTasks();
    engine->StartConvert(1);
    EXPECT_FALSE(engine->SetOutputFile(0, dir.File("more.mp3")));
    EXPECT_EQ(engine->LastErrorText(), "The task has been started already");
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_FALSE(engine->SetOutputFile(2, dir.File("more.mp3")));
    EXPECT_EQ(recorder.Of('t').size(), 4u);
}

TEST_F(EngineTest, StopAfterTheRunDoesNothing) {
    AddThreeTasks();
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const size_t before = recorder.Events().size();
    engine->StopConvert();
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.Events().size(), before);
}

TEST_F(EngineTest, ClearTasksInsideTheFirstTerminateEndsTheRunAtOnce) {
    AddThreeTasks();
    recorder.on_terminate = [this](int index) {
        if (index == 0) engine->ClearTasks();
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, -1}));
    EXPECT_EQ(engine->TaskCount(), 0);
}

TEST_F(EngineTest, ClearTasksInsideTheLastTerminateEndsTheRun) {
    AddThreeTasks();
    recorder.on_terminate = [this](int index) {
        if (index == 2) engine->ClearTasks();
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
}

TEST_F(EngineTest, RemovingTheEndingTaskInsideItsTerminateRenumbersTheRest) {
    AddThreeTasks();
    recorder.on_terminate = [this](int index) {
        if (index >= 0) engine->RemoveTask(index);
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    // Each following task moved up to position 0 before it ran.
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 0, 0, -1}));
    EXPECT_EQ(engine->TaskCount(), 0);
}

TEST_F(EngineTest, RemovingAWaitingTaskInsideATerminateSkipsIt) {
    AddThreeTasks();
    recorder.on_terminate = [this](int index) {
        if (index == 0) engine->RemoveTask(1);
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, -1}));
    EXPECT_TRUE(DecodeMp3(dir.File("out2.mp3")).ok);
}

TEST_F(EngineTest, RemovingARunningTaskStopsItAndTheRunStillEnds) {
    const std::string src = MakeRealAc3(dir, "long.rm", 60.0, 44100, 2);
    ASSERT_EQ(AddMp3Task(src, dir.File("long.mp3")), 0);
    const std::string small = MakeRealAc3(dir, "small.rm", 1.0, 44100, 2);
    ASSERT_EQ(AddMp3Task(small, dir.File("small.mp3")), 1);
    engine->SetProgressInterval(100);
    engine->StartConvert(2);
    ASSERT_TRUE(loop.RunUntil([&] {
        for (const TEvent& e : recorder.Of('p'))
            if (e.index == 0) return true;
        return false;
    }));
    const size_t before = recorder.Of('t').size();
    engine->RemoveTask(0);
    // The removed task ended inside the call, unfinished, under the index it had.
    const auto removed = recorder.Of('t');
    ASSERT_EQ(removed.size(), before + 1);
    EXPECT_EQ(removed.back().index, 0);
    EXPECT_FALSE(removed.back().terminate.Finished);
    EXPECT_EQ(removed.back().thread, std::this_thread::get_id());
    ASSERT_TRUE(recorder.WaitEndOfRun());
    // Its worker's own end adds nothing; the small one ended once, finished,
    // under index 1 before the removal or 0 after it.
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 3u);
    int small_ends = 0;
    for (const TEvent& e : t) small_ends += e.index >= 0 && e.terminate.Finished;
    EXPECT_EQ(small_ends, 1);
    ExpectEndOfRunLastAndOnce(t);
    EXPECT_EQ(engine->TaskCount(), 1);
}

TEST_F(EngineTest, ATaskWithoutOutputEndsWithTheStartCheckMessage) {
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(engine->AddTask(src), 0);
    engine->StartConvert(1);
    // The start check fails on the calling thread, before StartConvert returns.
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].index, 0);
    EXPECT_FALSE(t[0].terminate.Finished);
    EXPECT_TRUE(t[0].terminate.Exception);
    EXPECT_EQ(t[0].terminate.Message, "At least one output file must be specified");
    EXPECT_EQ(t[0].thread, std::this_thread::get_id());
    EXPECT_EQ(t[1].index, -1);
    bool logged = false;
    for (const TEvent& e : recorder.Of('l'))
        logged |= e.index == 0 && e.level == llQuiet && e.text == "At least one output file must be specified";
    EXPECT_TRUE(logged);
}

TEST_F(EngineTest, TheOutputCheckComesBeforeTheInputCheck) {
    TCustomFFmpeg core;
    core.ReInitialize();
    std::vector<std::string> logs;
    std::string message;
    int terminates = 0;
    core.OnLog = [&](TCustomFFmpeg*, int level, const std::string& msg) { logs.push_back(std::to_string(level) + msg); };
    core.OnTerminate = [&](TCustomFFmpeg* sender) {
        ++terminates;
        message = sender->message;
    };
    EXPECT_EQ(core.Start(true, tpNormal), nullptr);
    EXPECT_EQ(terminates, 1);
    EXPECT_TRUE(core.exception);
    EXPECT_EQ(message, "At least one output file must be specified");
    EXPECT_EQ(logs, (std::vector<std::string>{"-1At least one output file must be specified"}));
    // Ended is final: neither start nor stop raise anything again.
    EXPECT_EQ(core.Start(false, tpNormal), nullptr);
    core.Stop();
    EXPECT_EQ(terminates, 1);
}

TEST_F(EngineTest, AFailingTaskEndsWithItsErrorAndTheRunGoesOn) {
    const std::string a = MakeRealAc3(dir, "a.rm", 1.0);
    const std::string b = MakeRealAc3(dir, "b.rm", 1.0);
    // libmp3lame cannot encode 96000 Hz: the encoder does not open.
    ASSERT_EQ(AddMp3Task(a, dir.File("a.mp3"), 2, 96000), 0);
    ASSERT_EQ(AddMp3Task(b, dir.File("b.mp3")), 1);
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].index, 0);
    EXPECT_FALSE(t[0].terminate.Finished);
    EXPECT_TRUE(t[0].terminate.Exception);
    EXPECT_FALSE(t[0].terminate.Message.empty());
    bool logged = false;
    for (const TEvent& e : recorder.Of('l'))
        logged |= e.index == 0 && e.level == llQuiet && e.text == t[0].terminate.Message;
    EXPECT_TRUE(logged) << t[0].terminate.Message;
    ExpectCompleted(t[1]);
    ExpectEndOfRunLastAndOnce(t);
}

TEST_F(EngineTest, ProgressRecordsKeepTheIntervalAndTheLastComesBeforeTheTerminate) {
    const std::string src = MakeRealAc3(dir, "in.rm", 20.0, 44100, 2);
    ASSERT_EQ(AddMp3Task(src, dir.File("out.mp3")), 0);
    engine->SetProgressInterval(150);
    std::vector<std::chrono::steady_clock::time_point> times;
    std::mutex times_lock;
    engine->SetOnProgress([&](int, int, int, int, float, float, int64_t, int) {
        std::lock_guard<std::mutex> guard(times_lock);
        times.push_back(std::chrono::steady_clock::now());
    });
    auto terminate = engine->OnTerminate();
    std::atomic<size_t> progress_at_terminate{0};
    engine->SetOnTerminate([&](int index, bool f, bool e, const std::string& m) {
        if (index == 0) {
            std::lock_guard<std::mutex> guard(times_lock);
            progress_at_terminate = times.size();
        }
        terminate(index, f, e, m);
    });
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    std::lock_guard<std::mutex> guard(times_lock);
    ASSERT_GE(times.size(), 1u);
    EXPECT_EQ(progress_at_terminate.load(), times.size()) << "a final record comes before OnTerminate";
    for (size_t i = 1; i + 1 < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(150)) << "record " << i;
}

TEST_F(EngineTest, ProgressCarriesTheTotalAndTheReachedDuration) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0, 44100, 2);
    ASSERT_EQ(AddMp3Task(src, dir.File("out.mp3")), 0);
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto p = recorder.Of('p');
    ASSERT_FALSE(p.empty());
    const TProgressInfo& last = p.back().progress;
    EXPECT_EQ(last.Index, 0);
    EXPECT_NEAR(last.TotalOutputDuration, 3000, 100);
    EXPECT_NEAR(last.CurrentDuration, 3000, 150);
    EXPECT_EQ(last.FrameNumber, -1);  // audio only
    EXPECT_EQ(last.FPS, -1);
    EXPECT_FLOAT_EQ(last.Quality, -1.0f);
    EXPECT_GT(last.CurrentSize, 0);
}

// A long queue stopped mid-run: its waiting tasks end without a thread each.
TEST_F(EngineTest, StoppingARunWithTwoThousandWaitingTasksStartsNoThreadForEach) {
    const std::string src = MakeRealAc3(dir, "long.rm", 30.0, 44100, 2);
    for (int i = 0; i < 2001; ++i) ASSERT_EQ(AddMp3Task(src, dir.File("out" + std::to_string(i) + ".mp3")), i);
    engine->SetProgressInterval(100);
    engine->StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('p').empty(); }));
    engine->StopConvert();
    // The running file's worker and the one thread that ends the others.
    EXPECT_LE(LiveTaskThreads(), 2u);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(recorder.Of('t').size(), 2002u);  // every task, then the end of the run
    WaitForTaskThreads();
}

TEST_F(EngineTest, DestroyingTheComponentDuringARunStopsAndWaitsForItsWorkers) {
    for (int i = 0; i < 2; ++i) {
        const std::string src = MakeRealAc3(dir, "long" + std::to_string(i) + ".rm", 60.0, 44100, 2);
        ASSERT_EQ(AddMp3Task(src, dir.File("out" + std::to_string(i) + ".mp3")), i);
    }
    engine->SetProgressInterval(100);
    engine->StartConvert(2);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('p').empty(); }));
    engine.reset();
    // Under the sanitizers a worker touching the freed component or task fails here.
    EXPECT_EQ(LiveTaskThreads() <= 2, true);
    WaitForTaskThreads();
}

TEST_F(EngineTest, ThreadPrioritiesRunEvenWhereTheSystemRefusesThem) {
    AddThreeTasks(0.5);
    engine->SetThreadPriority(tpIdle);
    engine->StartConvert(2);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    for (const TEvent& e : recorder.Of('t'))
        if (e.index >= 0) ExpectCompleted(e);
}

namespace {

// Raises the preview event the way a worker's video path does.
class TPreviewEngine : public TDAzaduVED {
public:
    using TDAzaduVED::TDAzaduVED;
    void Preview(int index, int frame) { DoPreviewBitmap(Task(index), nullptr, frame, frame * 1000); }
};

}  // namespace

TEST_F(EngineTest, PreviewPicturesReachTheWindowsThread) {
    TPreviewEngine preview(&loop);
    const std::string src = MakeRealAc3(dir, "in.rm", 1.0);
    ASSERT_EQ(preview.AddTask(src), 0);
    std::vector<std::pair<int, std::thread::id>> seen;
    preview.SetOnPreviewBitmap([&](int index, TBitmap*, int frame, int64_t pts) {
        EXPECT_EQ(pts, frame * 1000);
        seen.emplace_back(frame, std::this_thread::get_id());
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        preview.Preview(0, 1);
        preview.Preview(0, 2);
        done = true;
        loop.Wake();
    });
    ASSERT_TRUE(loop.RunUntil([&] { return done.load(); }));
    worker.join();
    preview.Preview(0, 3);  // on the window's thread itself: at once
    ASSERT_EQ(seen.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].first, i + 1);
        EXPECT_EQ(seen[i].second, std::this_thread::get_id());
    }
}

TEST_F(EngineTest, AnInputOfUnknownLengthReportsMinusOneAsItsTotal) {
    // Raw samples through a pipe: nothing tells the length in advance.
    const std::string fifo = dir.File("pcm.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream pipe(fifo, std::ios::binary);
        const auto tone = MakeSine(44100, 440.0, 3.0);
        for (float s : tone) {
            const int16_t v[2] = {static_cast<int16_t>(s * 32767), static_cast<int16_t>(s * 32767)};
            pipe.write(reinterpret_cast<const char*>(v), sizeof v);  // the raw reader's stereo
        }
    });
    TInputOptions in;
    in.FileFormat = "s16le";
    const int index = engine->AddTask(fifo, &in);
    EXPECT_EQ(index, 0) << engine->LastErrorText();
    if (index == 0) {
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        out.AudioChannels = 1;
        ASSERT_TRUE(engine->SetOutputFile(0, dir.File("pcm.mp3"), &out)) << engine->LastErrorText();
        engine->SetProgressInterval(100);
        engine->StartConvert(1);
        ASSERT_TRUE(recorder.WaitEndOfRun());
    }
    writer.join();
    const auto p = recorder.Of('p');
    ASSERT_FALSE(p.empty());
    for (const TEvent& e : p) EXPECT_EQ(e.progress.TotalOutputDuration, -1);
    EXPECT_GT(p.back().progress.CurrentDuration, 2500);
    ExpectCompleted(recorder.Of('t')[0]);
}

TEST_F(EngineTest, UnloadingTheLibrariesStopsTheRunFirst) {
    const std::string src = MakeRealAc3(dir, "long.rm", 60.0, 44100, 2);
    ASSERT_EQ(AddMp3Task(src, dir.File("a.mp3")), 0);
    ASSERT_EQ(AddMp3Task(src, dir.File("b.mp3")), 1);
    engine->SetProgressInterval(100);
    engine->StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('p').empty(); }));
    engine->UnloadLibraries();
    EXPECT_FALSE(engine->LibrariesLoaded());
    EXPECT_EQ(LiveTaskThreads(), 0u);
    EXPECT_EQ(engine->TaskCount(), 0);
    ASSERT_EQ(recorder.end_of_runs.load(), 1);
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t.back().index, -1);
    // The stopped file was finished properly before the libraries went.
    const DecodedAudio mp3 = DecodeMp3(dir.File("a.mp3"));
    EXPECT_TRUE(mp3.ok) << mp3.error;
    EXPECT_FALSE(std::ifstream(dir.File("b.mp3")).good());
    ASSERT_TRUE(engine->LoadLibraries("")) << engine->LastErrorText();
}

TEST_F(EngineTest, TheWindowsStopPathStopsAndClearsWhileWorkersRun) {
    // What the converter's Stop button does: stop, then clear at once, without
    // waiting for the workers; they end on their own and the run still ends.
    for (int i = 0; i < 3; ++i) {
        const std::string src = MakeRealAc3(dir, "long" + std::to_string(i) + ".rm", 60.0, 44100, 2);
        ASSERT_EQ(AddMp3Task(src, dir.File("out" + std::to_string(i) + ".mp3")), i);
    }
    engine->SetProgressInterval(100);
    engine->StartConvert(2);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Of('p').size() >= 2; }));
    engine->StopConvert();
    engine->ClearTasks();
    EXPECT_EQ(engine->TaskCount(), 0);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    WaitForTaskThreads();
    // Cleared tasks report nothing under indexes that are no longer theirs.
    for (const TEvent& e : recorder.Of('t')) {
        if (e.index >= 0) EXPECT_FALSE(e.terminate.Finished);
    }
    EXPECT_EQ(recorder.end_of_runs.load(), 1);
    // The files that were being written were closed properly.
    EXPECT_TRUE(DecodeMp3(dir.File("out0.mp3")).ok);
    EXPECT_TRUE(DecodeMp3(dir.File("out1.mp3")).ok);
    EXPECT_FALSE(std::ifstream(dir.File("out2.mp3")).good());
}
