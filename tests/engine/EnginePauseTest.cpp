// Pausing a run: a paused file takes no further packets and no file starts
// until the run is resumed, after which the file goes on where it was; a
// paused run still ends at once when stopped, cleared or destroyed.
#include <fstream>

#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

class EnginePauseTest : public EngineTest {
protected:
    // A long file converting on one worker, paused after its first second, and a short one waiting.
    void StartAndPause() {
        ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "long.rm", 60.0, 44100, 2), dir.File("long.mp3")), 0);
        ASSERT_EQ(AddMp3Task(MakeRealAc3(dir, "short.rm", 1.0, 44100, 2), dir.File("short.mp3")), 1);
        engine->SetProgressInterval(100);
        engine->StartConvert(1);
        ASSERT_TRUE(loop.RunUntil([&] { return Reached() >= 1000; }));
        engine->PauseConvert();
        EXPECT_TRUE(engine->Paused());
    }
    // The output time of the long file's latest progress record.
    int Reached() const {
        int ms = 0;
        for (const TEvent& e : recorder.Of('p'))
            if (e.index == 0) ms = std::max(ms, e.progress.CurrentDuration);
        return ms;
    }
    // The call returns and the run ends without a resume; the waiting file never starts.
    void EndPausedRun(const std::function<void()>& end) {
        {
            TWatchdog watchdog("ending a paused run");
            end();
        }
        if (engine) {
            EXPECT_TRUE(loop.RunUntil([&] { return !engine->Running(); }, std::chrono::seconds(30)));
        }
        EXPECT_FALSE(std::ifstream(dir.File("short.mp3")).good());
    }
    void Idle(std::chrono::milliseconds time) {
        loop.RunUntil([] { return false; }, time);
    }
};

}  // namespace

TEST_F(EnginePauseTest, APausedFileHoldsAndGoesOnWhereItWasWhenResumed) {
    StartAndPause();
    // A record already on its way may still come; after it nothing moves.
    Idle(std::chrono::milliseconds(300));
    const int held = Reached();
    const size_t events = recorder.Events().size();
    Idle(std::chrono::milliseconds(700));
    EXPECT_EQ(Reached(), held);
    EXPECT_EQ(recorder.Events().size(), events);
    EXPECT_TRUE(recorder.Of('t').empty());
    EXPECT_TRUE(engine->Running());

    engine->ResumeConvert();
    EXPECT_FALSE(engine->Paused());
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const auto t = recorder.Of('t');
    ASSERT_EQ(t.size(), 3u);
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(t[i].terminate.Finished) << t[i].terminate.Message;
    // Nothing of the sound was lost or doubled across the pause.
    const DecodedAudio mp3 = DecodeMp3(dir.File("long.mp3"));
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_NEAR(mp3.Seconds(), 60.0, 0.2);
    EXPECT_FALSE(engine->Paused());  // the run's end ended the pause
}

// The window's ways of giving up a paused run: Stop, closing (stop and clear),
// and the component going. None of them waits for a resume.
TEST_F(EnginePauseTest, StopEndsAPausedRun) {
    StartAndPause();
    EndPausedRun([this] { engine->StopConvert(); });
    // The paused file was closed properly, shorter.
    const DecodedAudio mp3 = DecodeMp3(dir.File("long.mp3"));
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_LT(mp3.Seconds(), 59.0);
}

TEST_F(EnginePauseTest, ClearingEndsAPausedRun) {
    StartAndPause();
    EndPausedRun([this] { engine->ClearTasks(); });
}

TEST_F(EnginePauseTest, DestroyingTheComponentEndsAPausedRun) {
    StartAndPause();
    EndPausedRun([this] { engine.reset(); });
}

// One after another on the window's thread: the file there runs to its end,
// and the next waits for the resume.
TEST_F(EnginePauseTest, ThreadCountZeroHoldsTheNextStart) {
    AddThreeTasks(0.5);
    recorder.on_terminate = [this](int index) {
        if (index == 0) engine->PauseConvert();
    };
    engine->StartConvert(0);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('t').empty(); }));
    Idle(std::chrono::milliseconds(500));
    EXPECT_EQ(TerminateOrder(), std::vector<int>{0});
    engine->ResumeConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
}
