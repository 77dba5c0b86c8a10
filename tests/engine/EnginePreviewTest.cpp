// Preview pictures through the engine: the preview-bitmap event on the
// window's thread, and the preview flags toggled from the window's thread
// while three tasks preview at once (the preview lock and the window's thread
// must never wait for each other). Run under ThreadSanitizer as well.
#include <algorithm>
#include <set>

#include "tests/common/VideoCheck.h"
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

// A preview window as the converter's works: the picture is handed to the
// window's thread, which "draws" it later; nothing waits for that thread.
struct TPreviewCounts {
    std::atomic<int> made{0}, shown{0}, drawn{0}, closed{0};
};

class TPostingWindow : public TPreviewWindow {
public:
    TPostingWindow(TWindowThread& window, TPreviewCounts& counts) : window_(window), counts_(counts) { ++counts_.made; }
    ~TPostingWindow() override { ++counts_.closed; }
    bool Show(const TBitmap& bitmap, int, int64_t) override {
        if (bitmap.Width() <= 0) return false;
        ++counts_.shown;
        TPreviewCounts& counts = counts_;
        window_.OneShotTimer(0, [&counts] { ++counts.drawn; });
        return true;
    }

private:
    TWindowThread& window_;
    TPreviewCounts& counts_;
};

class TPreviewLoop : public TEventLoopWindowThread {
public:
    std::unique_ptr<TPreviewWindow> NewPreviewWindow(const std::string&) override {
        return std::make_unique<TPostingWindow>(*this, counts);
    }
    TPreviewCounts counts;
};

class EnginePreviewTest : public EngineTestWith<TPreviewLoop> {
protected:

    // A video task to a lossless Matroska file: 64x48, 25 pictures a second;
    // paced: read at its own pace.
    int AddVideoTask(const std::string& name, double seconds, bool paced = false) {
        const std::string src = MakeFixture(dir, name + ".rm", "rm-video",
                                            {"--seconds", std::to_string(seconds), "--fps", "25", "--size", "64x48",
                                             "--audio", "none"});
        TInputOptions in;
        if (paced) in.ExtOptions = "re";
        const int index = engine->AddTask(src, &in);
        EXPECT_GE(index, 0) << engine->LastErrorText();
        TOutputOptions out;
        out.VideoCodec = "ffv1";
        EXPECT_TRUE(engine->SetOutputFile(index, dir.File(name + ".mkv"), &out)) << engine->LastErrorText();
        return index;
    }
};

}  // namespace

TEST_F(EnginePreviewTest, PreviewBitmapsArriveOnTheWindowsThread) {
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::set<int> indices;
    int pictures = 0;
    engine->SetOnPreviewBitmap([&](int index, TBitmap* bitmap, int, int64_t) {
        std::lock_guard<std::mutex> guard(lock);
        threads.insert(std::this_thread::get_id());
        indices.insert(index);
        if (bitmap->Width() == 64 && bitmap->Height() == 48) ++pictures;
    });
    engine->SetPreviewBitmap(true);
    ASSERT_EQ(AddVideoTask("a", 1.0), 0);
    ASSERT_EQ(AddVideoTask("b", 1.0), 1);
    TWatchdog watchdog("a run with preview bitmaps");
    engine->StartConvert(2);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_GT(pictures, 0);
    EXPECT_EQ(threads, std::set<std::thread::id>{loop.ThreadId()});
    EXPECT_EQ(indices, (std::set<int>{0, 1}));
    EXPECT_EQ(loop.counts.made, 0);  // the event takes the pictures, not a window
    for (const TEvent& e : recorder.Of('t')) EXPECT_FALSE(e.terminate.Exception) << e.terminate.Message;
}

// The window's thread turns the preview on and off as fast as it can while
// three tasks preview into windows and the event: nobody waits for anybody
// holding what they need, every task ends normally with all its pictures, and
// every window made is closed.
TEST_F(EnginePreviewTest, TogglingPreviewWhileThreeTasksPreviewNeverHangs) {
    std::atomic<int> bitmaps{0};
    engine->SetOnPreviewBitmap([&](int, TBitmap*, int, int64_t) { ++bitmaps; });
    for (int i = 0; i < 3; ++i) ASSERT_EQ(AddVideoTask("t" + std::to_string(i), 3.0, true), i);
    engine->SetPreview(true);
    TWatchdog watchdog("toggling the preview during a run", std::chrono::seconds(240));
    engine->StartConvert(3);
    bool on = true;
    int toggles = 0;
    while (recorder.end_of_runs.load() == 0) {
        on = !on;
        engine->SetPreview(on);
        if (++toggles % 7 == 0) engine->SetPreviewBitmap(!engine->PreviewBitmap());
        loop.ProcessPending();
        std::this_thread::yield();
    }
    engine->SetPreview(false);
    loop.ProcessPending();
    EXPECT_GT(toggles, 0);
    EXPECT_GT(loop.counts.shown + bitmaps, 0);
    EXPECT_EQ(loop.counts.made, loop.counts.closed);
    const auto ends = recorder.Of('t');
    ASSERT_EQ(ends.size(), 4u);
    for (const TEvent& e : ends) {
        EXPECT_FALSE(e.terminate.Exception) << e.terminate.Message;
        EXPECT_TRUE(e.terminate.Finished);
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(DecodePictures(dir.File("t" + std::to_string(i) + ".mkv")).size(), 75u);
}

// The hook events of the component, asked for in the output record: on each
// task's worker, with its index; what the custom hook paints is in the output,
// and the before-hook event's answer decides for the plug-in named in the options.
TEST_F(EnginePreviewTest, HookEventsRunOnTheWorkersAndActOnTheOutput) {
    const std::string grey = std::string(ARDENTIX_TEST_BIN_DIR) + "/../hooks/plugins/grey.so";
    std::mutex lock;
    std::set<int> painted, asked;
    bool on_window = false;
    engine->SetOnCustomHook([&](int index, TBitmap* bitmap, int, int64_t, bool&, bool&) {
        std::lock_guard<std::mutex> guard(lock);
        on_window = on_window || loop.IsWindowThread();
        painted.insert(index);
        for (int y = 0; y < bitmap->Height(); ++y) std::fill_n(bitmap->ScanLine(y), 3 * bitmap->Width(), 0);
    });
    engine->SetOnBeforeHook([&](int index, int64_t pts, THookAction& action) {
        std::lock_guard<std::mutex> guard(lock);
        on_window = on_window || loop.IsWindowThread();
        asked.insert(index);
        action = pts < 500000 ? haIgnore : haContinue;
    });
    const std::string src = MakeFixture(dir, "in.rm", "rm-video",
                                        {"--seconds", "1", "--fps", "10", "--size", "64x48", "--audio", "none"});
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(engine->AddTask(src), i) << engine->LastErrorText();
        TOutputOptions out;
        out.VideoCodec = "ffv1";
        out.CustomHook = i == 0;
        out.BeforeHook = i == 1;
        if (i == 1) out.ExtOptions = "vhook=" + grey;
        ASSERT_TRUE(engine->SetOutputFile(i, dir.File("hooked" + std::to_string(i) + ".mkv"), &out))
            << engine->LastErrorText();
    }
    TWatchdog watchdog("a run with hook events");
    engine->StartConvert(2);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_FALSE(on_window);
    EXPECT_EQ(painted, std::set<int>{0});
    EXPECT_EQ(asked, std::set<int>{1});
    for (const DecodedPicture& p : DecodePictures(dir.File("hooked0.mkv"))) EXPECT_LE(p.Y(32, 24), 20);
    for (const DecodedPicture& p : DecodePictures(dir.File("hooked1.mkv"))) {
        const bool grey_chroma = std::all_of(p.u.begin(), p.u.end(), [](uint8_t c) { return c == 128; });
        EXPECT_EQ(grey_chroma, p.seconds >= 0.5) << p.seconds;
    }
}
