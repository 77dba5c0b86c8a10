// The rule for a file already at an output's name, through the converter
// library both faces drive: each rule against each thing that can be at the
// name, a stopped file under each rule, and a stopped batch run again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "batch/Converter.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/common/Fixtures.h"

namespace fs = std::filesystem;
using namespace ardentix::test;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ExistingOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<TDAzaduVED>(&loop);
        ASSERT_TRUE(engine->LoadLibraries("")) << engine->LastErrorText();
        engine->SetLogLevel(llQuiet);
        fs::create_directories(in);
        fs::create_directories(out);
    }
    void TearDown() override { engine.reset(); }

    // One run to its end; stop says, after each look, whether to stop it now.
    std::vector<TFileRecord> Run(const std::vector<std::string>& paths, const TPlanChoice& choice,
                                 const std::function<bool(const TRunUpdate&)>& stop = nullptr) {
        const TListing listing = ListFiles(engine->Probe, paths);
        std::atomic<bool> news{false};
        TBatchRun run(*engine, [&](TRunNews) {
            news = true;
            loop.Wake();
        });
        std::string problem;
        EXPECT_TRUE(run.Start(listing.Files, {choice, out, 2}, problem)) << problem;
        for (;;) {
            loop.RunUntil([&] { return news.exchange(false); }, std::chrono::milliseconds(250));
            const TRunUpdate update = run.Take();
            if (stop && stop(update)) run.Stop();
            if (update.Over) return run.Records();
        }
    }
    static TPlanChoice Choice(TExistingOutputs rule, bool beside = false) {
        TPlanChoice choice;
        choice.Existing = rule;
        choice.NextToSource = beside;
        return choice;
    }

    TempDir dir;
    const std::string in = dir.File("in") + "/";
    const std::string out = dir.File("out") + "/";
    TEventLoopWindowThread loop;
    std::unique_ptr<TDAzaduVED> engine;
};

}  // namespace

TEST_F(ExistingOutputsTest, EachRuleAgainstWhatIsAtTheName) {
    const std::string source = MakeRealAudio144(dir, "in/a.ra", 0.3);
    using R = TExistingOutputs;
    // What the folder holds before: nothing, an earlier output, a folder, a
    // temporary file of a run that was killed (pid 1 still runs: it stays).
    const std::string nothing, file = "a.mp3", folder = "a.mp3/", leftover = ".ardx-0000000001-00000000.mp3";
    const struct {
        R rule;
        std::string at;
        bool beside;      // outputs next to their sources
        const char* outcome;
        std::string output;  // relative to the test's folder
        bool old_kept;       // the earlier file is as it was
    } cases[] = {
        {R::Number, nothing, false, "completed", "out/a.mp3", false},
        {R::Skip, nothing, false, "completed", "out/a.mp3", false},
        {R::Replace, nothing, false, "completed", "out/a.mp3", false},
        {R::Number, file, false, "completed", "out/a(1).mp3", true},
        {R::Skip, file, false, "skipped", "out/a.mp3", true},
        {R::Replace, file, false, "completed", "out/a.mp3", false},
        {R::Number, folder, false, "completed", "out/a(1).mp3", false},
        {R::Skip, folder, false, "completed", "out/a(1).mp3", false},
        {R::Replace, folder, false, "completed", "out/a(1).mp3", false},
        {R::Number, leftover, false, "completed", "out/a.mp3", false},
        {R::Skip, leftover, false, "completed", "out/a.mp3", false},
        {R::Replace, leftover, false, "completed", "out/a.mp3", false},
        {R::Number, file, true, "completed", "in/a(1).mp3", true},
        {R::Skip, file, true, "skipped", "in/a.mp3", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(ExistingOutputsName(c.rule)) + " with '" + c.at + "'" + (c.beside ? " beside" : ""));
        const std::string where = c.beside ? in : out;
        for (const std::string& folder_name : {in, out})
            for (const auto& e : fs::directory_iterator(folder_name))
                if (e.path() != source) fs::remove_all(e.path());
        if (c.at == folder) fs::create_directories(where + c.at);
        else if (!c.at.empty()) std::ofstream(where + c.at) << "old";

        const TPlanChoice choice = Choice(c.rule, c.beside);
        const std::string shown = PlanOutputPaths(ListFiles(engine->Probe, {source}).Files, choice, out)[0];
        const std::vector<TFileRecord> records = Run({source}, choice);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_STREQ(OutcomeName(records[0].Outcome), c.outcome);
        EXPECT_EQ(records[0].Reason, c.outcome == std::string("skipped") ? TReason::OutputExists : TReason::None);
        EXPECT_EQ(records[0].Output, dir.File(c.output));
        EXPECT_EQ(shown, records[0].Output) << "the name shown before the run";
        if (c.at == file) EXPECT_EQ(Slurp(where + c.at) == "old", c.old_kept);
        if (c.at == leftover) EXPECT_EQ(Slurp(where + c.at), "old") << "another process's file is left alone";
    }
}

// A stopped file keeps its shorter output where the name is free, and the
// summary says it is shorter; under skip it keeps none, since the next run
// would take it for a finished one.
TEST_F(ExistingOutputsTest, AStoppedFileKeepsItsShorterOutputUnlessSkipping) {
    const std::string source = MakeRealAc3(dir, "in/long.rm", 300.0, 32000, 1, {440});
    for (const TExistingOutputs rule : {TExistingOutputs::Number, TExistingOutputs::Replace, TExistingOutputs::Skip}) {
        SCOPED_TRACE(ExistingOutputsName(rule));
        for (const auto& e : fs::directory_iterator(out)) fs::remove_all(e.path());
        const std::vector<TFileRecord> records =
            Run({source}, Choice(rule), [](const TRunUpdate& u) { return !u.Progress.empty(); });
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].Outcome, TFileOutcome::Stopped);
        TRunSummary summary;
        summary.Add(records[0]);
        if (rule == TExistingOutputs::Skip) {
            EXPECT_EQ(records[0].Output, "");
            EXPECT_TRUE(FilesIn(out).empty()) << "nothing is left under the name, nor a temporary file";
            EXPECT_TRUE(summary.KeptShorter().empty());
            continue;
        }
        EXPECT_EQ(records[0].Output, out + "long.mp3");
        EXPECT_EQ(FilesIn(out), std::vector<std::string>{"long.mp3"});
        EXPECT_EQ(records[0].Text, ShorterText(records[0].ConvertedMs, records[0].ExpectedMs));
        EXPECT_LT(records[0].ConvertedMs, records[0].ExpectedMs);
        EXPECT_EQ(summary.KeptShorter().size(), 1u);
    }
}

// Skip makes a stopped batch resumable: run again, only the files without an
// output convert, each file once in all, none under a numbered name.
TEST_F(ExistingOutputsTest, AStoppedBatchRunAgainWithSkipConvertsEachFileOnce) {
    const std::string one = MakeRealAudio144(dir, "one.ra", 0.4);
    std::vector<std::string> sources;
    for (int i = 0; i < 200; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.ra", i);
        sources.push_back(in + name);
        fs::create_hard_link(one, sources.back());
    }
    const TPlanChoice skip = Choice(TExistingOutputs::Skip);
    size_t ended = 0;
    const std::vector<TFileRecord> first = Run(sources, skip, [&](const TRunUpdate& u) {
        ended += u.Ended.size();
        return ended >= 100;
    });
    const std::vector<TFileRecord> second = Run(sources, skip);
    ASSERT_EQ(first.size(), 200u);
    ASSERT_EQ(second.size(), 200u);
    std::set<std::string> done_first, skipped, done_second;
    for (const TFileRecord& r : first) {
        if (r.Converted()) done_first.insert(r.Output);
        else EXPECT_EQ(r.Output, "") << r.Input << " " << OutcomeName(r.Outcome);
    }
    EXPECT_GE(done_first.size(), 100u);
    EXPECT_LT(done_first.size(), 200u) << "the batch was stopped halfway";
    for (const TFileRecord& r : second) {
        EXPECT_TRUE(r.Outcome == TFileOutcome::Completed || r.Outcome == TFileOutcome::Skipped) << r.Input;
        (r.Outcome == TFileOutcome::Skipped ? skipped : done_second).insert(r.Output);
    }
    EXPECT_EQ(skipped, done_first) << "what the first run finished, and only that, is skipped";
    EXPECT_EQ(done_first.size() + done_second.size(), 200u);
    const std::vector<std::string> files = FilesIn(out);
    ASSERT_EQ(files.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.mp3", i);
        EXPECT_EQ(files[static_cast<size_t>(i)], name);
    }
}
