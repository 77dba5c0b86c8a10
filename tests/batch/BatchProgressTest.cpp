// The batch's progress arithmetic: file n of N, the share of the playing time
// done, the time taken and left, and the speed of one file.
#include <gtest/gtest.h>

#include "batch/BatchProgress.h"
#include "batch/RunSummary.h"

TEST(BatchProgress, ShareIsByPlayingTimeNotByFileCount) {
    TBatchProgress p;
    // A long file and two short ones: the long one is most of the batch.
    p.Start({600000, 60000, 60000}, 0);
    EXPECT_EQ(p.Files(), 3);
    EXPECT_EQ(p.Started(), 0);
    EXPECT_EQ(p.Percent(), 0);
    p.FileProgress(1, 30000, 60000, 1000);
    EXPECT_EQ(p.Started(), 1);
    EXPECT_EQ(p.Running(), 1);
    EXPECT_EQ(p.Percent(), 4);  // 30 s of 720 s
    p.FileEnded(1);
    EXPECT_EQ(p.Percent(), 8);  // a file that ended counts whole
    EXPECT_EQ(p.Running(), 0);
    EXPECT_EQ(p.Ended(), 1);
    p.FileProgress(0, 300000, 600000, 2000);
    EXPECT_EQ(p.Percent(), 50);
    p.FileEnded(0);
    p.FileEnded(2);  // failed before it began: done all the same
    EXPECT_EQ(p.Percent(), 100);
    EXPECT_EQ(p.Started(), 3);
}

TEST(BatchProgress, RecordsThatDoNotAddUp) {
    struct TCase {
        const char* name;
        std::vector<int64_t> durations;
        int file;
        int64_t current, total;
        int percent;
    } cases[] = {
        // Unknown lengths weigh as much as the average known one; the engine's length is taken once it knows one.
        {"unknown length, engine knows it", {-1, 100000}, 0, 50000, 100000, 25},
        {"unknown everywhere", {-1, -1}, 0, 50000, -1, 0},
        {"a file running past its length", {10000, 10000}, 0, 40000, 10000, 50},
        {"a position going back", {10000, 10000}, 0, -5000, 10000, 0},
        {"a file outside the batch", {10000}, 7, 5000, 10000, 0},
        {"a zero length", {0, 10000}, 1, 5000, 10000, 25},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TBatchProgress p;
        p.Start(c.durations, 0);
        p.FileProgress(c.file, c.current, c.total, 100);
        EXPECT_EQ(p.Percent(), c.percent);
        EXPECT_GE(p.Fraction(), 0.0);
        EXPECT_LE(p.Fraction(), 1.0);
    }
}

TEST(BatchProgress, HowAFileEndedAndWhatBecameKnownOnTheWay) {
    // Three files read or not; each step an event, then the percentage shown.
    enum TStep { Progress, Ended, Stopped, Dropped };
    struct TEvent {
        TStep step;
        int file;
        int64_t current, total;
        int percent;
    };
    const struct {
        const char* name;
        std::vector<int64_t> durations, sizes;
        std::vector<TEvent> events;
    } cases[] = {
        {"a stop counts what was done, not what was never reached",
         {10000, 10000, 10000}, {},
         {{Ended, 0, 0, 0, 33}, {Progress, 1, 5000, 10000, 50}, {Stopped, 1, 0, 0, 50}, {Stopped, 2, 0, 0, 50}}},
        {"an unreadable file weighs nothing",
         {-1, 9000}, {},
         {{Dropped, 0, 0, 0, 0}, {Progress, 1, 4500, 9000, 50}, {Ended, 1, 0, 0, 100}}},
        {"folder rows read on the way: by size until known, never going back",
         {-1, -1, -1}, {1000, 3000, 1000},
         {{Progress, 0, 500, 1000, 10}, {Ended, 0, 0, 0, 20}, {Progress, 1, 1000, 9000, 20},
          {Progress, 1, 6000, 9000, 56}, {Ended, 1, 0, 0, 80}, {Ended, 2, 0, 0, 100}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBatchProgress p;
        p.Start(c.durations, 0, c.sizes);
        for (const TEvent& e : c.events) {
            switch (e.step) {
                case Progress: p.FileProgress(e.file, e.current, e.total, 100); break;
                case Ended: p.FileEnded(e.file); break;
                case Stopped: p.FileStopped(e.file); break;
                case Dropped: p.FileDropped(e.file); break;
            }
            EXPECT_EQ(p.Percent(), e.percent) << "after an event of file " << e.file;
        }
    }
}

TEST(BatchProgress, EndingTwiceOrBeforeStartingCountsOnce) {
    TBatchProgress p;
    p.Start({1000, 1000}, 0);
    p.FileEnded(0);
    p.FileEnded(0);
    p.FileProgress(0, 500, 1000, 10);  // a late record of an ended file
    EXPECT_EQ(p.Ended(), 1);
    EXPECT_EQ(p.Running(), 0);
    EXPECT_EQ(p.Started(), 1);
    EXPECT_EQ(p.Percent(), 50);
    p.FileEnded(-1);
    p.FileEnded(2);
    EXPECT_EQ(p.Ended(), 1);
}

TEST(BatchProgress, TimeTakenAndLeft) {
    TBatchProgress p;
    p.Start({100000, 100000}, 5000);
    EXPECT_EQ(p.ElapsedMs(5000), 0);
    EXPECT_EQ(p.RemainingMs(5000), -1);  // nothing to go by yet
    p.FileProgress(0, 1000, 100000, 5500);
    EXPECT_EQ(p.RemainingMs(6000), -1);  // under a second in, and 0.5 % done: no guess
    p.FileProgress(0, 50000, 100000, 15000);
    // A quarter in 10 s: 30 s left.
    EXPECT_EQ(p.ElapsedMs(15000), 10000);
    EXPECT_EQ(p.RemainingMs(15000), 30000);
    p.FileEnded(0);
    p.FileEnded(1);
    EXPECT_EQ(p.RemainingMs(16000), 0);
    EXPECT_EQ(p.ElapsedMs(1000), 0);  // a clock read before the start is no time at all
}

TEST(BatchProgress, SpeedOfOneFile) {
    TBatchProgress p;
    p.Start({254000, 10000}, 0);
    EXPECT_EQ(p.FileSpeed(0, 100), 0);  // not begun
    p.FileProgress(0, 19000, 254000, 500);
    EXPECT_EQ(p.FileSpeed(0, 500), 0);  // one record: no time between
    // 38 s of sound in one second of work.
    p.FileProgress(0, 57000, 254000, 1500);
    EXPECT_DOUBLE_EQ(p.FileSpeed(0, 1500), 38.0);
    p.FileEnded(0);
    EXPECT_EQ(p.FileSpeed(0, 2000), 0);
    EXPECT_EQ(p.FileSpeed(9, 2000), 0);
}

TEST(BatchProgress, APauseCountsNeitherInTheTimeNorInTheSpeed) {
    TBatchProgress p;
    p.Start({100000, 100000}, 0);
    p.FileProgress(0, 0, 100000, 1000);
    p.FileProgress(0, 25000, 100000, 6000);
    p.Pause(6000);
    p.Pause(8000);  // pausing twice keeps the first start
    EXPECT_EQ(p.RemainingMs(60000), 42000);  // an eighth in 6 s, as before the pause
    p.Resume(66000);
    p.Resume(70000);
    EXPECT_EQ(p.ElapsedMs(71000), 11000);
    p.FileProgress(0, 50000, 100000, 71000);
    EXPECT_DOUBLE_EQ(p.FileSpeed(0, 71000), 5.0);  // 50 s of sound in 10 s of work
    p.Pause(80000);
    p.Start({1000}, 90000);  // a new batch starts unpaused
    EXPECT_EQ(p.ElapsedMs(91000), 1000);
}

TEST(BatchProgress, ClockText) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "00:00"},       {999, "00:00"},      {151000, "02:31"},      {254000, "04:14"},
        {3599999, "59:59"}, {3600000, "1:00:00"}, {36000000 * 10, "100:00:00"}, {-5000, "00:00"},
    };
    for (const auto& [ms, text] : cases) EXPECT_EQ(ClockText(ms), text) << ms;
}

TEST(RunSummary, CountsAndOrder) {
    auto record = [](const char* input, const char* output, TFileOutcome outcome, const char* text) {
        TFileRecord r;
        r.Input = input;
        r.Output = output;
        r.Outcome = outcome;
        r.Text = text;
        return r;
    };
    TRunSummary s;
    EXPECT_TRUE(s.RanToTheEnd());
    s.Add(record("a.rm", "/o/a.mp3", TFileOutcome::Completed, ""));
    s.Add(record("b.rm", "", TFileOutcome::Failed, "broken"));
    s.Add(record("c.rm", "/o/c.mp3", TFileOutcome::EndedEarly, "00:00:03 of 00:00:10"));
    s.Add(record("d.rm", "", TFileOutcome::Refused, "gone"));
    EXPECT_EQ(s.Total(), 4);
    EXPECT_EQ(s.Converted(), 2) << "a file whose input ended early was converted too";
    EXPECT_EQ(s.Failures(), 2) << "a file refused before the run failed too";
    EXPECT_TRUE(s.RanToTheEnd());  // failures too are an end
    const auto failed = s.FailedFiles();
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].Input, "b.rm");
    EXPECT_EQ(failed[1].Text, "gone");
    s.Add(record("e.rm", "", TFileOutcome::NotStarted, ""));
    EXPECT_FALSE(s.RanToTheEnd());
    s.Clear();
    s.Add(record("f.rm", "/o/f.mp3", TFileOutcome::Stopped, ""));
    EXPECT_FALSE(s.RanToTheEnd());
    EXPECT_EQ(s.Total(), 1);
}
