// The capture of library log lines: whole lines, per-thread pending text, the
// bracketed context prefix, the threshold, several components, long lines,
// and the lock order between a component's event lock and the capture.
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

const char* ItemName(void*) { return "demo"; }

// Something the library would log with: an object whose first field is its class.
struct TDemoContext {
    const AVClass* cls;
};

const AVClass DemoClass = [] {
    AVClass cls{};
    cls.class_name = "Demo";
    cls.item_name = ItemName;
    cls.version = LIBAVUTIL_VERSION_INT;
    return cls;
}();

class LogCaptureTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        engine->SetLogLevel(llInfo);
        ClearLogLines();
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const TEvent& e : recorder.Of('l')) lines.push_back(e.text);
        return lines;
    }
};

}  // namespace

TEST_F(LogCaptureTest, APartialLineWaitsForItsEnd) {
    LibraryLog(nullptr, AV_LOG_INFO, "first %d", 1);
    EXPECT_TRUE(Lines().empty());
    LibraryLog(nullptr, AV_LOG_INFO, " and second\n");
    ASSERT_EQ(Lines(), (std::vector<std::string>{"first 1 and second"}));
    const TEvent e = recorder.Of('l')[0];
    EXPECT_EQ(e.index, -1) << "no task runs on this thread";
    EXPECT_EQ(e.level, llInfo);
}

TEST_F(LogCaptureTest, TwoLineFeedsGiveTwoLinesAndKeepTheRest) {
    LibraryLog(nullptr, AV_LOG_ERROR, "a\nb\nc");
    ASSERT_EQ(Lines(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(recorder.Of('l')[0].level, llError);
    LibraryLog(nullptr, AV_LOG_ERROR, "\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "c"}));
    LibraryLog(nullptr, AV_LOG_ERROR, "\n\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "c", "", ""}));
}

TEST_F(LogCaptureTest, TheContextPrefixStartsALineOnly) {
    TDemoContext ctx{&DemoClass};
    LibraryLog(&ctx, AV_LOG_INFO, "opened");
    LibraryLog(&ctx, AV_LOG_INFO, " twice\n");
    char address[32];
    std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(&DemoClass));
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], std::string("[demo @ ") + address + "]opened twice");
}

TEST_F(LogCaptureTest, MessagesAboveTheThresholdAreDropped) {
    LibraryLog(nullptr, AV_LOG_VERBOSE, "verbose\n");
    LibraryLog(nullptr, AV_LOG_DEBUG, "debug\n");
    EXPECT_TRUE(Lines().empty());
    engine->SetLogLevel(llAll);
    LibraryLog(nullptr, AV_LOG_DEBUG, "debug\n");
    ASSERT_EQ(Lines(), (std::vector<std::string>{"debug"}));
    EXPECT_EQ(recorder.Of('l')[0].level, llAll);
    engine->SetLogLevel(llQuiet);
    LibraryLog(nullptr, AV_LOG_ERROR, "error\n");
    EXPECT_EQ(Lines().size(), 1u);
}

TEST_F(LogCaptureTest, PendingTextIsKeptPerThread) {
    LibraryLog(nullptr, AV_LOG_INFO, "main ");
    std::thread other([] {
        LibraryLog(nullptr, AV_LOG_INFO, "other ");
        LibraryLog(nullptr, AV_LOG_INFO, "done\n");
    });
    other.join();
    LibraryLog(nullptr, AV_LOG_INFO, "done\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"other done", "main done"}));
}

TEST_F(LogCaptureTest, LongLinesArriveWhole) {
    const std::string big(10000, 'x');
    LibraryLog(nullptr, AV_LOG_INFO, "%s", big.c_str());
    LibraryLog(nullptr, AV_LOG_INFO, "%s\n", big.c_str());
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], big + big);
}

TEST_F(LogCaptureTest, TextThatNeverEndsItsLineIsCutInsteadOfGrowingForever) {
    const std::string chunk(4000, 'y');
    for (int i = 0; i < 10; ++i) LibraryLog(nullptr, AV_LOG_INFO, "%s", chunk.c_str());
    const auto lines = Lines();
    ASSERT_FALSE(lines.empty());
    size_t total = 0;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), MaxPendingLogText + chunk.size());
        total += line.size();
    }
    LibraryLog(nullptr, AV_LOG_INFO, "\n");
    total = 0;
    for (const std::string& line : Lines()) total += line.size();
    EXPECT_EQ(total, 40000u) << "nothing is lost";
}

TEST_F(LogCaptureTest, EveryLiveComponentGetsEachLine) {
    TDAzaduVED second(&loop);
    TRecorder other;
    other.Attach(second, &loop);
    LibraryLog(nullptr, AV_LOG_INFO, "to both\n");
    ASSERT_EQ(Lines(), (std::vector<std::string>{"to both"}));
    ASSERT_EQ(other.Of('l').size(), 1u);
    EXPECT_EQ(other.Of('l')[0].text, "to both");
    EXPECT_EQ(other.Of('l')[0].index, -1);
}

TEST_F(LogCaptureTest, ADestroyedComponentGetsNoMoreLines) {
    {
        TDAzaduVED second(&loop);
        second.SetOnLog([](int, TLogLevel, const std::string&) { FAIL() << "after its end"; });
        second.SetOnLog(nullptr);
    }
    LibraryLog(nullptr, AV_LOG_INFO, "after\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"after"}));
}

TEST_F(LogCaptureTest, LinesOfARunningTaskCarryItsIndex) {
    const std::string src = MakeRealAc3(dir, "in.rm", 3.0);
    ASSERT_EQ(AddMp3Task(src, dir.File("out.mp3")), 0);
    ASSERT_EQ(AddMp3Task(src, dir.File("out2.mp3")), 1);
    // Thread count 0: the tasks run on this thread, so a library line written
    // inside a progress handler belongs to the running task.
    engine->SetProgressInterval(100);
    std::atomic<int> logged{0};
    engine->SetOnProgress([&](int index, int, int, int, float, float, int64_t, int) {
        LibraryLog(nullptr, AV_LOG_INFO, "from task %d\n", index);
        ++logged;
    });
    engine->StartConvert(0);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_GT(logged.load(), 0);
    for (const TEvent& e : recorder.Of('l')) {
        if (e.text.rfind("from task ", 0) == 0) {
            EXPECT_EQ(e.text, "from task " + std::to_string(e.index));
        }
    }
    // After the run no task runs on this thread any more.
    recorder.on_terminate = nullptr;
    LibraryLog(nullptr, AV_LOG_INFO, "idle\n");
    EXPECT_EQ(recorder.Of('l').back().index, -1);
}

TEST_F(LogCaptureTest, AHandlerThatLogsUnderTheEventLockDoesNotDeadlock) {
    // One thread is inside OnTerminate (holding the event lock) and logs through
    // the library, while another thread has logged a moment before and waits
    // for that event lock to deliver its line.
    AddThreeTasks(0.5);
    std::thread other;
    std::atomic<bool> done{false};
    recorder.on_terminate = [&](int index) {
        if (index != 0) return;
        other = std::thread([] { LibraryLog(nullptr, AV_LOG_INFO, "from the other thread\n"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        LibraryLog(nullptr, AV_LOG_INFO, "from the handler\n");
        done = true;
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    other.join();
    EXPECT_TRUE(done.load());
    const auto lines = Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "from the handler"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "from the other thread"), lines.end());
}

TEST_F(LogCaptureTest, AHandlerWaitingForTheWindowWhileItLogsDoesNotDeadlock) {
    // OnTerminate holds the event lock and waits for the window's thread, which
    // meanwhile makes a library call that logs: the line cannot wait for the lock.
    AddThreeTasks(0.5);
    recorder.on_terminate = [&](int index) {
        if (index == 1) loop.RunAndWait([] { LibraryLog(nullptr, AV_LOG_INFO, "from the window\n"); });
    };
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto logs = recorder.Of('l');
    auto it = std::find_if(logs.begin(), logs.end(), [](const TEvent& e) { return e.text == "from the window"; });
    ASSERT_NE(it, logs.end());
    EXPECT_EQ(it->index, -1);
}

TEST_F(LogCaptureTest, TwoComponentsWhoseHandlersLogAtOnceDoNotDeadlock) {
    // Each component's handler logs through the library while the other's
    // handler does the same: every line still reaches both components.
    TDAzaduVED second(&loop);
    TRecorder other;
    other.Attach(second, &loop);
    const std::string src = MakeRealAc3(dir, "a.rm", 0.5);
    ASSERT_EQ(AddMp3Task(src, dir.File("a.mp3")), 0);
    ASSERT_EQ(second.AddTask(src), 0);
    TOutputOptions out;
    out.AudioCodec = "libmp3lame";
    ASSERT_TRUE(second.SetOutputFile(0, dir.File("b.mp3"), &out));
    std::atomic<int> inside{0};
    auto meet = [&](const char* who) {
        ++inside;
        // Both handlers hold their own event lock before either logs.
        for (int i = 0; i < 200 && inside.load() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        LibraryLog(nullptr, AV_LOG_INFO, "%s\n", who);
    };
    recorder.on_terminate = [&](int index) {
        if (index == 0) meet("first");
    };
    other.on_terminate = [&](int index) {
        if (index == 0) meet("second");
    };
    engine->StartConvert(1);
    second.StartConvert(1);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.end_of_runs.load() == 1 && other.end_of_runs.load() == 1; }));
    for (TRecorder* r : {&recorder, &other}) {
        std::set<std::string> texts;
        for (const TEvent& e : r->Of('l')) texts.insert(e.text);
        EXPECT_TRUE(texts.count("first"));
        EXPECT_TRUE(texts.count("second"));
    }
}

TEST(LogListTest, NodesAreReusedByThreadAndFreedByClear) {
    TLogList list;
    EXPECT_EQ(list.NodeCount(), 0u);
    list.FindOrAdd(std::this_thread::get_id()) = "head";
    EXPECT_EQ(list.NodeCount(), 1u);
    std::thread::id a, b;
    std::thread([&] { a = std::this_thread::get_id(); }).join();
    std::thread([&] { b = std::this_thread::get_id(); }).join();
    list.FindOrAdd(a) = "a";
    EXPECT_EQ(list.FindOrAdd(std::this_thread::get_id()), "head");
    EXPECT_EQ(list.FindOrAdd(a), "a");
    EXPECT_EQ(list.NodeCount(), a == std::this_thread::get_id() ? 1u : 2u);
    list.Clear();
    EXPECT_EQ(list.NodeCount(), 0u);
    EXPECT_EQ(list.FindOrAdd(b), "");
    EXPECT_EQ(list.NodeCount(), 1u);
}
