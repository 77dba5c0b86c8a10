// Pausing a run: a paused file takes no packet and no file starts until the
// resume, after which the file goes on where it was; a stop or the component's
// end still ends a paused run at once.
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
        ASSERT_TRUE(loop.RunUntil([&] { return recorder.Of('p').size() >= 2; }));
        engine->PauseConvert();
        Idle(300);  // a record already on its way
    }
    void Idle(int ms) { loop.RunUntil([] { return false; }, std::chrono::milliseconds(ms)); }
};

}  // namespace

TEST_F(EnginePauseTest, APausedFileHoldsAndGoesOnWhereItWasWhenResumed) {
    StartAndPause();
    const size_t events = recorder.Events().size();
    Idle(700);
    EXPECT_EQ(recorder.Events().size(), events);  // no progress, no end, no other file
    EXPECT_TRUE(engine->Paused());
    engine->ResumeConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, -1}));
    // Nothing of the sound was lost or doubled across the pause.
    const DecodedAudio mp3 = DecodeMp3(dir.File("long.mp3"));
    ASSERT_TRUE(mp3.ok) << mp3.error;
    EXPECT_NEAR(mp3.Seconds(), 60.0, 0.2);
    EXPECT_FALSE(engine->Paused());
}

TEST_F(EnginePauseTest, StopOrDestructionEndsAPausedRunWithoutAResume) {
    for (const bool destroy : {false, true}) {
        SetUp();
        StartAndPause();
        {
            TWatchdog watchdog(destroy ? "destroying a paused engine" : "stopping a paused run");
            destroy ? engine.reset() : engine->StopConvert();
        }
        EXPECT_FALSE(std::ifstream(dir.File("short.mp3")).good());
        if (destroy) continue;
        ASSERT_TRUE(recorder.WaitEndOfRun());
        const DecodedAudio mp3 = DecodeMp3(dir.File("long.mp3"));  // closed properly, shorter
        ASSERT_TRUE(mp3.ok) << mp3.error;
        EXPECT_LT(mp3.Seconds(), 59.0);
    }
}

// One after another on the window's thread: the file there runs to its end, the next waits.
TEST_F(EnginePauseTest, ThreadCountZeroHoldsTheNextStart) {
    AddThreeTasks(0.5);
    recorder.on_terminate = [this](int index) {
        if (index == 0) engine->PauseConvert();
    };
    engine->StartConvert(0);
    ASSERT_TRUE(loop.RunUntil([&] { return !recorder.Of('t').empty(); }));
    Idle(500);
    EXPECT_EQ(TerminateOrder(), std::vector<int>{0});
    engine->ResumeConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
}
