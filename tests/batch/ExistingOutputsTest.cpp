// The rule for a file already at an output's name, through the converter
// library both faces drive: each rule against what can be at the name, a
// stopped file under each rule, and a stopped batch run again.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "batch/Converter.h"
#include "core/LogLevel.h"
#include "core/SourceRecord.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tests/batch/RunRecords.h"
#include "tests/common/AudioCheck.h"
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

namespace {

// Each output decodes to its input's length, and records that input, whole.
void ExpectMadeFrom(const std::string& output, const std::string& input, const TOutputKind& kind) {
    SCOPED_TRACE(output);
    const DecodedAudio decoded = DecodeWithLibraries(output), source = DecodeWithLibraries(input);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_NEAR(decoded.Seconds(), source.Seconds(), 0.12);
    const auto record = ReadSourceRecord(output, kind.source_tag);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->Path, fs::path(input).filename().string());
    EXPECT_EQ(record->State, TMadeState::Whole);
}

}  // namespace

// a.rm and a.ra share a stem: each keeps its own output, whichever comes
// first, however often the run is repeated, in every kind (those with tags
// and those with a sidecar).
TEST_F(ExistingOutputsTest, SameStemInputsEachKeepTheirOwnOutputUnderSkip) {
    const std::string ra = MakeRealAudio144(dir, "in/a.ra", 0.6);
    const std::string rm = MakeRealAc3(dir, "in/a.rm", 1.1, 44100, 1);
    const std::string rv = MakeRealVideo(dir, "in/v.rm", 1.0), rmvb = MakeRealVideo(dir, "in/v.rmvb", 0.6);
    for (const char* name : {"mp3", "m4a", "opus", "ogg", "flac", "wav", "mkv", "mp4", "vcd", "dv"}) {
        SCOPED_TRACE(name);
        const TOutputKind& kind = *OutputKindNamed(name);
        for (const auto& e : fs::directory_iterator(out)) fs::remove_all(e.path());
        const std::string first = kind.needs_video ? rv : rm, second = kind.needs_video ? rmvb : ra;
        const std::string stem = out + (kind.needs_video ? "v" : "a");
        TPlanChoice choice = Choice(TExistingOutputs::Skip, false);
        choice.To.kind = &kind;
        const std::vector<std::string> outputs = {stem + kind.extension, stem + "(1)" + kind.extension};
        for (const auto& [order, outcome] : {std::pair{std::vector{first, second}, TFileOutcome::Completed},
                                            {std::vector{first, second}, TFileOutcome::Skipped},
                                            {std::vector{second, first}, TFileOutcome::Skipped}}) {
            std::atomic<bool> news{false};
            TBatchRun run(engine, [&](TRunNews) { news = true; loop.Wake(); });
            std::string problem;
            ASSERT_TRUE(run.Start(ListFiles(engine.Probe, order).Files, {choice, out, 1}, problem));
            const std::vector<TFileRecord> records = RecordsToEnd(run, loop, news);
            ASSERT_EQ(records.size(), 2u);
            for (const TFileRecord& r : records) {
                EXPECT_EQ(r.Outcome, outcome) << r.Input << ": " << r.Text;
                EXPECT_EQ(r.Output, outputs[r.Input == first ? 0 : 1]) << r.Input;
            }
        }
        std::vector<std::string> files = {fs::path(outputs[0]).filename(), fs::path(outputs[1]).filename()};
        if (!kind.source_tag[0])
            for (const std::string& o : {outputs[0], outputs[1]})
                files.push_back(fs::path(SourceSidecarPath(o)).filename());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(OutputFiles(), files);
        if (kind.needs_video) continue;  // the video kinds' sound is checked in their own tests
        ExpectMadeFrom(outputs[0], first, kind);
        ExpectMadeFrom(outputs[1], second, kind);
    }
}

// Two runs of the same files into one folder at once (a cluster's task sent
// again while the first still runs): both plan every file before either
// places one, and the later conversion of each is dropped, not numbered.
TEST_F(ExistingOutputsTest, OverlappingRunsUnderSkipMakeNoCopies) {
    const std::vector<std::string> sources = {MakeRealAudio144(dir, "in/a.ra", 0.5),
                                              MakeRealAc3(dir, "in/b.rm", 0.7, 44100, 1)};
    TDAzaduVED other{&loop};
    ASSERT_TRUE(other.LoadLibraries("")) << other.LastErrorText();
    other.SetLogLevel(llQuiet);
    std::atomic<bool> news{false};
    auto notify = [&](TRunNews) { news = true; loop.Wake(); };
    TBatchRun first(engine, notify), second(other, notify);
    std::string problem;
    // One after another on this thread: nothing converts until the loop runs.
    const TRunRequest request{Choice(TExistingOutputs::Skip, false), out, 0};
    ASSERT_TRUE(first.Start(ListFiles(engine.Probe, sources).Files, request, problem));
    ASSERT_TRUE(second.Start(ListFiles(other.Probe, sources).Files, request, problem));
    std::map<std::string, std::vector<std::string>> outcomes;  // input -> its outcomes in both runs
    for (bool over_first = false, over_second = false; !over_first || !over_second;) {
        for (auto [run, over] : {std::pair{&first, &over_first}, {&second, &over_second}}) {
            if (*over) continue;
            const TRunUpdate update = run->Take();
            for (const TFileRecord& r : update.Ended) {
                outcomes[r.Input].push_back(OutcomeName(r.Outcome));
                EXPECT_GE(r.ElapsedMs, 0) << "converted, then dropped: " << r.Input;
                EXPECT_EQ(r.Output, out + BaseName(r.Input) + ".mp3");
            }
            *over = update.Over;
        }
        loop.RunUntil([&] { return news.exchange(false); }, std::chrono::milliseconds(50));
    }
    for (const std::string& source : sources) {
        std::vector<std::string> seen = outcomes[source];
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, (std::vector<std::string>{"completed", "skipped"})) << source;
        ExpectMadeFrom(out + BaseName(source) + ".mp3", source, OutputKinds().front());
    }
    EXPECT_EQ(OutputFiles(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
}

// Under skip a file's own output counts as done only when it is whole, or
// as long as the input itself; else the file is converted again in its place.
TEST_F(ExistingOutputsTest, AShortOutputIsNotTakenAsDone) {
    const std::string whole = MakeRealAc3(dir, "whole.rm", 4.0, 44100, 1);
    const std::string source = in + "a.rm";
    const struct {
        const char* name;
        std::function<void()> before;  // makes the output the skip run meets
        TFileOutcome outcome;
    } cases[] = {
        {"a stopped conversion kept under number",
         [&] {
             Run({source}, TExistingOutputs::Number, false, [](const TRunUpdate& u) { return !u.Progress.empty(); });
         },
         TFileOutcome::Completed},
        {"an input that ends early, converted whole", [&] {
             MakeCut(whole, 50, source);
             Run({source}, TExistingOutputs::Skip);
         },
         TFileOutcome::Skipped},
        {"an input changed since its conversion", [&] {
             Run({source}, TExistingOutputs::Skip);
             MakeRealAc3(dir, "in/a.rm", 1.5, 44100, 1);
         },
         TFileOutcome::Completed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& folder : {in, out})
            for (const auto& e : fs::directory_iterator(folder)) fs::remove_all(e.path());
        fs::copy_file(MakeRealAc3(dir, "long.rm", 60.0, 44100, 1), source);
        c.before();
        const std::vector<TFileRecord> records = Run({source}, TExistingOutputs::Skip);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].Outcome, c.outcome) << records[0].Text;
        EXPECT_EQ(records[0].Output, out + "a.mp3");
        EXPECT_EQ(OutputFiles(), std::vector<std::string>{"a.mp3"});
        const DecodedAudio decoded = DecodeMp3(out + "a.mp3"), input = DecodeWithLibraries(source);
        EXPECT_NEAR(decoded.Seconds(), input.Seconds(), 0.12);
    }
}
