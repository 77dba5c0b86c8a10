// The rule for a file already at an output's name, through the converter
// library both faces drive: each rule against what can be at the name, a
// stopped file under each rule, and a stopped batch run again.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>

#include "batch/Converter.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/batch/RunRecords.h"
#include "tests/common/Fixtures.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

class ExistingOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.LoadLibraries("")) << engine.LastErrorText();
        engine.SetLogLevel(llQuiet);
        fs::create_directories(in);
        fs::create_directories(out);
    }
    // One run to its end; stop tells, after each look, whether to stop it now.
    std::vector<TFileRecord> Run(const std::vector<std::string>& paths, TExistingOutputs rule, bool beside = false,
                                 const std::function<bool(const TRunUpdate&)>& stop = nullptr) {
        std::atomic<bool> news{false};
        TBatchRun run(engine, [&](TRunNews) { news = true; loop.Wake(); });
        std::string problem;
        EXPECT_TRUE(run.Start(ListFiles(engine.Probe, paths).Files, {Choice(rule, beside), out, 2}, problem));
        return RecordsToEnd(run, loop, news, stop);
    }
    static TPlanChoice Choice(TExistingOutputs rule, bool beside) {
        TPlanChoice choice;
        choice.Existing = rule;
        choice.NextToSource = beside;
        return choice;
    }
    std::vector<std::string> OutputFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::string in = dir.File("in") + "/", out = dir.File("out") + "/";
    TEventLoopWindowThread loop;
    TDAzaduVED engine{&loop};
};

}  // namespace

// Before the run the name holds nothing, an earlier output, a folder, or a
// temporary file of a killed run (of pid 1, which still runs: it stays).
TEST_F(ExistingOutputsTest, EachRuleAgainstWhatIsAtTheName) {
    const std::string source = MakeRealAudio144(dir, "in/a.ra", 0.3);
    using R = TExistingOutputs;
    const std::string file = "a.mp3", folder = "a.mp3/", leftover = ".ardx-0000000001-00000000.mp3";
    const struct {
        R rule;
        std::string at;
        bool beside;         // outputs next to their sources
        TFileOutcome outcome;
        std::string output;  // relative to the test's folder
    } cases[] = {
        {R::Number, "", false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Skip, "", false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Replace, "", false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Number, file, false, TFileOutcome::Completed, "out/a(1).mp3"},
        {R::Skip, file, false, TFileOutcome::Skipped, "out/a.mp3"},
        {R::Replace, file, false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Number, folder, false, TFileOutcome::Completed, "out/a(1).mp3"},
        {R::Skip, folder, false, TFileOutcome::Completed, "out/a(1).mp3"},
        {R::Replace, folder, false, TFileOutcome::Completed, "out/a(1).mp3"},
        {R::Number, leftover, false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Skip, leftover, false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Replace, leftover, false, TFileOutcome::Completed, "out/a.mp3"},
        {R::Number, file, true, TFileOutcome::Completed, "in/a(1).mp3"},
        {R::Skip, file, true, TFileOutcome::Skipped, "in/a.mp3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ExistingOutputsName(c.rule)) + " '" + c.at + "'" + (c.beside ? " beside" : ""));
        const std::string where = c.beside ? in : out;
        for (const std::string& folder_name : {in, out})
            for (const auto& e : fs::directory_iterator(folder_name))
                if (e.path() != source) fs::remove_all(e.path());
        if (c.at == folder) fs::create_directories(where + c.at);
        else if (!c.at.empty()) WriteFileBytes(where + c.at, "old");
        const std::string shown =
            PlanOutputPaths(ListFiles(engine.Probe, {source}).Files, Choice(c.rule, c.beside), out)[0];

        const std::vector<TFileRecord> records = Run({source}, c.rule, c.beside);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].Outcome, c.outcome);
        EXPECT_EQ(records[0].Reason, c.outcome == TFileOutcome::Skipped ? TReason::OutputExists : TReason::None);
        EXPECT_EQ(records[0].Output, dir.File(c.output));
        EXPECT_EQ(shown, records[0].Output) << "the name shown before the run";
        if (c.at == file || c.at == leftover)
            EXPECT_EQ(ReadFileBytes(where + c.at) == "old", c.rule != R::Replace || c.at == leftover);
    }
}

// A stopped file keeps its shorter output where the name is free, and the
// summary lists it; under skip it keeps nothing, which the next run would take
// for a finished conversion.
TEST_F(ExistingOutputsTest, AStoppedFileKeepsItsShorterOutputUnlessSkipping) {
    const std::string source = MakeRealAc3(dir, "in/long.rm", 300.0, 32000, 1, {440});
    for (const TExistingOutputs rule : {TExistingOutputs::Number, TExistingOutputs::Replace, TExistingOutputs::Skip}) {
        SCOPED_TRACE(ExistingOutputsName(rule));
        for (const auto& e : fs::directory_iterator(out)) fs::remove_all(e.path());
        const auto records = Run({source}, rule, false, [](const TRunUpdate& u) { return !u.Progress.empty(); });
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].Outcome, TFileOutcome::Stopped);
        TRunSummary summary;
        summary.Add(records[0]);
        const bool kept = rule != TExistingOutputs::Skip;
        EXPECT_EQ(OutputFiles(), kept ? std::vector<std::string>{"long.mp3"} : std::vector<std::string>{});
        EXPECT_EQ(records[0].Output, kept ? out + "long.mp3" : "");
        EXPECT_EQ(summary.KeptShorter().size(), kept ? 1u : 0u);
        if (kept) EXPECT_LT(records[0].ConvertedMs, records[0].ExpectedMs);
        if (kept) EXPECT_EQ(records[0].Text, ShorterText(records[0].ConvertedMs, records[0].ExpectedMs));
    }
}

// Skip makes a stopped batch resumable: run again, only the files without an
// output convert, each file once in all, none under a numbered name.
TEST_F(ExistingOutputsTest, AStoppedBatchRunAgainWithSkipConvertsEachFileOnce) {
    const std::string one = MakeRealAudio144(dir, "one.ra", 0.4);
    std::vector<std::string> sources, expected;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "f" + std::to_string(1000 + i);
        sources.push_back(in + name + ".ra");
        expected.push_back(name + ".mp3");
        fs::create_hard_link(one, sources.back());
    }
    size_t ended = 0;
    const auto first = Run(sources, TExistingOutputs::Skip, false, [&](const TRunUpdate& u) {
        return (ended += u.Ended.size()) >= 100;
    });
    const auto second = Run(sources, TExistingOutputs::Skip);
    std::set<std::string> done_first, skipped, done_second;
    for (const TFileRecord& r : first)
        if (r.Converted()) done_first.insert(r.Output);
        else EXPECT_EQ(r.Output, "") << r.Input << " " << OutcomeName(r.Outcome);
    for (const TFileRecord& r : second) (r.Outcome == TFileOutcome::Skipped ? skipped : done_second).insert(r.Output);
    EXPECT_GE(done_first.size(), 100u);
    EXPECT_LT(done_first.size(), 200u) << "the batch was stopped halfway";
    EXPECT_EQ(skipped, done_first) << "what the first run finished, and only that, is skipped";
    EXPECT_EQ(done_first.size() + done_second.size(), 200u);
    EXPECT_EQ(OutputFiles(), expected);
}
