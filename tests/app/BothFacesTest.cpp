// The same batches through both faces: the window (headless, through its
// seams) and ardentix-convert (a child process). Each case must end every file
// alike in both, as the outcome records say: outcome, reason, output name.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include <sys/stat.h>

#include "batch/RunSummary.h"
#include "binding/FFmpegLoader.h"
#include "tests/app/FormFixture.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/Awkward.h"
#include "tests/common/ConvertTool.h"
#include "tests/common/ReportCheck.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace ardentix::test;

namespace {

// A record as both faces can give it: names relative to the test's folder.
struct TRow {
    std::string input, outcome, reason, output;
    bool operator==(const TRow&) const = default;
    bool operator<(const TRow& o) const { return std::tie(input, output) < std::tie(o.input, o.output); }
};

std::ostream& operator<<(std::ostream& os, const TRow& r) {
    return os << "{" << r.input << " " << r.outcome << " " << r.reason << " -> " << r.output << "}";
}

struct TFaceResult {
    std::vector<TRow> rows;           // sorted
    std::vector<std::string> files;   // what the output folder holds afterwards, sorted
    std::string folder_refusal;       // the one message refusing the run for its output folder
    int status = 0;                   // the terminal's exit status
};

struct TCase {
    const char* name;
    std::vector<std::string> inputs;  // relative to the test's folder
    std::string kind = "mp3";
    std::function<void(const std::string& out)> before;  // prepares the output folder
    std::vector<TRow> expected;
    bool stop = false;           // stopped once the first file is under way
    std::string folder = "out";  // the output folder, relative to the test's folder
    std::string existing = "number";  // the rule for a file at an output's name
    int runs = 1;  // the same run again over its own outputs: the records are of the last
};

class BothFacesTest : public FormTest {
protected:
    std::string Relative(const std::string& path) const {
        if (path.empty()) return "";
        return fs::path(path).lexically_relative(dir.Path()).string();
    }
    std::vector<std::string> OutputFiles(const std::string& out) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(out, ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Prepare(const TCase& c) {
        const std::string out = dir.File(c.folder);
        std::error_code ec;
        if (c.folder == "out") {
            fs::remove_all(out, ec);
            fs::create_directories(out);
        }
        if (c.before) c.before(out);
        return out;
    }
    TRow RowOf(const TFileRecord& r) const {
        return {Relative(r.Input), OutcomeName(r.Outcome), ReasonName(r.Reason), Relative(r.Output)};
    }

    TFaceResult ThroughWindow(const TCase& c) {
        const std::string out = Prepare(c);
        for (int run = 1; run < c.runs; ++run) WindowRun(c, out);
        return WindowRun(c, out);
    }
    TFaceResult WindowRun(const TCase& c, const std::string& out) {
        WriteSettingsText("[Options]\nOutputPath=" + out + "/\nSimultaneousConversions=1\nOutputFormat=" + c.kind +
                          "\nExistingOutputs=" + c.existing + "\n");
        dialogs = TRecordingDialogs();
        // Before the window's threads start: they cannot pass over permissions either.
        TWithoutOverride without;
        EXPECT_TRUE(Create());
        std::vector<std::string> inputs;
        for (const std::string& i : c.inputs) inputs.push_back(dir.File(i));
        AddThroughDialog(inputs);
        TFaceResult result;
        for (const TFileRecord& r : form->ListingRefusals()) result.rows.push_back(RowOf(r));
        form->BtnStart->click();
        if (c.stop) {
            EXPECT_TRUE(WaitUntil([&] { return Cell(0, colStatus).find("% Completed") != std::string::npos; }));
            form->BtnStart->click();
        }
        EXPECT_TRUE(WaitUntil([&] { return !form->RunGoing(); }));
        for (const TShownMessage& m : dialogs.Messages)
            if (m.Text.rfind("Cannot write to the output folder", 0) == 0) result.folder_refusal += m.Text;
        // Nothing was marked in the list of a refused run.
        if (!result.folder_refusal.empty()) EXPECT_EQ(Cell(0, colStatus), "");
        for (const TFileRecord& r : form->Summary().Entries()) result.rows.push_back(RowOf(r));
        Destroy();
        std::sort(result.rows.begin(), result.rows.end());
        result.files = OutputFiles(out);
        return result;
    }

    TFaceResult ThroughTerminal(const TCase& c) {
        const std::string out = Prepare(c);
        for (int run = 1; run < c.runs; ++run) TerminalRun(c, out);
        return TerminalRun(c, out);
    }
    TFaceResult TerminalRun(const TCase& c, const std::string& out) {
        const std::string report = dir.File("report.jsonl");
        fs::remove(report);
        std::vector<std::string> args = {"-o",     out,        "-j", "1", "--report", report, "--to", c.kind,
                                         "--existing", c.existing};
        for (const std::string& i : c.inputs) args.push_back(dir.File(i));
        fs::create_directories(dir.File("config"));
        std::vector<std::string> command = WithoutOverride(ConvertToolPath(), args);
        const std::string program = command.front();
        command.erase(command.begin());
        const pid_t pid =
            SpawnProgram(program, command, dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"));
        if (c.stop) {
            // Interrupted once the first output has grown: the file is under way.
            bool growing = false;
            for (int i = 0; i < 6000 && !growing; ++i) {
                std::error_code ec;
                for (const std::string& f : OutputFiles(out))
                    growing |= f.rfind(".ardx-", 0) == 0 && fs::file_size(out + "/" + f, ec) > 100000;
                if (!growing) ::usleep(10000);
            }
            ::kill(pid, SIGINT);
        }
        const int status = WaitForConvertTool(pid);
        TFaceResult result;
        result.status = status;
        const std::string errors = ReadFileBytes(dir.File("stderr"));
        if (errors.rfind("Cannot write to the output folder", 0) == 0) result.folder_refusal = errors;
        if (fs::exists(report))
            for (const auto& f : ReportRows(report, {"input", "outcome", "reason", "output"}))
                result.rows.push_back(
                    {Relative(f[0]), f[1], f[2] == "null" ? "" : f[2], f[3] == "null" ? "" : Relative(f[3])});
        std::sort(result.rows.begin(), result.rows.end());
        result.files = OutputFiles(out);
        return result;
    }
};

}  // namespace

TEST_F(BothFacesTest, EachCaseEndsAlikeThroughTheWindowAndTheTerminal) {
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    MakeRealAudio144(dir, "a.ra", 1.0);
    fs::create_directories(dir.File("x"));
    fs::create_directories(dir.File("y"));
    MakeRealAudio144(dir, "x/same.ra", 1.0);
    MakeRealAudio144(dir, "y/same.ra", 1.0);
    MakeWav(dir, "song.wav", 0.5);
    MakeRandom(dir, "noise.rm", 4096, 5, true);
    MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440});
    WriteFileBytes(dir.File("list.ram"), "a.ra\nrtsp://media.example.com/live.rm\n");
    WriteFileBytes(dir.File("blocker"), "a file where a folder would be");
    fs::create_directories(dir.File("pair"));
    MakeRealAudio144(dir, "pair/a.ra", 0.6);
    MakeRealAc3(dir, "pair/a.rm", 1.1, 44100, 1);
    // A folder of entries that are no files to convert, and one that may not be read.
    fs::create_directories(dir.File("walk/locked"));
    MakeRealAudio144(dir, "walk/good.ra", 0.5);
    MakeRealAudio144(dir, "walk/locked/x.ra", 0.5);
    fs::create_symlink("/dev/null", dir.File("walk/device.rm"));
    fs::create_symlink("nowhere.rm", dir.File("walk/gone.rm"));
    ::mkfifo(dir.File("walk/pipe.rm").c_str(), 0644);
    ::chmod(dir.File("walk/locked").c_str(), 0);
    // An output disk that holds one of these files and not two.
    fs::create_directories(dir.File("full"));
    for (int i = 0; i < 5; ++i) MakeRealAudio144(dir, "full/d" + std::to_string(i) + ".ra", 1.0);
    TSmallDisk small(dir.File("small"), 40 * 1024);
    auto emptied = [](const std::string& out) {
        for (const auto& e : fs::directory_iterator(out)) fs::remove(e.path());
    };
    // What a file already at an output's name does is the library's one rule,
    // tested once there (tests/batch/ExistingOutputsTest.cpp).
    const std::vector<TCase> cases = {
        {"an output folder that cannot be made", {"a.ra"}, "mp3", nullptr, {}, false, "blocker/out"},
        {"a sound-only file under a video kind", {"song.wav"}, "mp4", nullptr,
         {{"song.wav", "refused", "no-stream-for-kind", ""}}},
        {"the same name twice in one run", {"x/same.ra", "y/same.ra"}, "mp3", nullptr,
         {{"x/same.ra", "completed", "", "out/same.mp3"}, {"y/same.ra", "completed", "", "out/same(1).mp3"}}},
        {"a link file", {"list.ram"}, "mp3", nullptr,
         {{"a.ra", "completed", "", "out/a.mp3"}, {"list.ram", "refused", "link-entry-unusable", ""}}},
        {"a broken file", {"noise.rm", "a.ra"}, "mp3", nullptr,
         {{"a.ra", "completed", "", "out/a.mp3"}, {"noise.rm", "refused", "input-unreadable", ""}}},
        {"a stopped run", {"long.rm", "a.ra"}, "mp3", nullptr,
         {{"a.ra", "not-started", "stopped", ""}, {"long.rm", "stopped", "stopped", "out/long.mp3"}}, true},
        // Each keeps its own output; the second run takes neither for the other's.
        {"a same-stem pair under skip, run twice", {"pair/a.ra", "pair/a.rm"}, "mp3", nullptr,
         {{"pair/a.ra", "skipped", "output-exists", "out/a.mp3"},
          {"pair/a.rm", "skipped", "output-exists", "out/a(1).mp3"}}, false, "out", "skip", 2},
        {"a walk's entries that are no files", {"walk"}, "mp3", nullptr,
         {{"walk/device.rm", "refused", "not-a-file", ""}, {"walk/gone.rm", "refused", "dangling-link", ""},
          {"walk/good.ra", "completed", "", "out/good.mp3"}, {"walk/locked", "refused", "access-denied", ""},
          {"walk/pipe.rm", "refused", "not-a-file", ""}}},
        {"a full output disk", {"full"}, "mp3", emptied,
         {{"full/d0.ra", "completed", "", "small/d0.mp3"}, {"full/d1.ra", "failed", "disk-full", ""},
          {"full/d2.ra", "not-started", "disk-full", ""}, {"full/d3.ra", "not-started", "disk-full", ""},
          {"full/d4.ra", "not-started", "disk-full", ""}},
         false, "small"},
    };
    for (TCase c : cases) {
        SCOPED_TRACE(c.name);
        if (c.folder == "small" && !small.Mounted()) {
            std::cerr << "no small file system can be mounted here: \"" << c.name << "\" left out\n";
            continue;
        }
        std::sort(c.expected.begin(), c.expected.end());
        const TFaceResult window = ThroughWindow(c);
        const TFaceResult terminal = ThroughTerminal(c);
        EXPECT_EQ(window.rows, c.expected) << "the window";
        EXPECT_EQ(terminal.rows, c.expected) << "the terminal";
        EXPECT_EQ(window.files, terminal.files);
        // What the last face left is what its records say: each input's own, whole.
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        for (const TRow& r : terminal.rows)
            if (!r.output.empty() && (r.outcome == "completed" || r.outcome == "skipped")) {
                const DecodedAudio output = DecodeWithLibraries(dir.File(r.output)),
                                   input = DecodeWithLibraries(dir.File(r.input));
                EXPECT_TRUE(output.ok) << r.output << ": " << output.error;
                EXPECT_NEAR(output.Seconds(), input.Seconds(), 0.12) << r.output;
            }
        const bool folder_refused = c.folder.rfind("blocker/", 0) == 0;
        const std::string out = dir.File(c.folder) + "/";
        EXPECT_EQ(window.folder_refusal,
                  folder_refused ? "Cannot write to the output folder \"" + out + "\": Not a directory." : "");
        EXPECT_EQ(terminal.folder_refusal,
                  folder_refused ? "Cannot write to the output folder " + out + ": Not a directory\n" : "");
        // Status 1 when a run again may convert some file, 3 when what is left is beyond converting.
        bool again = folder_refused, left = false;
        for (const TRow& r : c.expected) {
            left |= r.outcome != "completed" && r.outcome != "skipped";
            for (const TReason reason : AllReasons()) again |= r.reason == ReasonName(reason) && ReasonRetryable(reason);
        }
        EXPECT_EQ(terminal.status, c.stop ? 130 : again ? 1 : left ? 3 : 0);
    }
    ::chmod(dir.File("walk/locked").c_str(), 0755);
}

// Each input is opened at most twice, to list it and to convert it, and each
// output is made once, when its conversion starts: in both faces.
TEST_F(BothFacesTest, EachFileIsOpenedOncePerUse) {
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    const std::vector<std::string> inputs = {MakeRealAudio144(dir, "a.ra", 1.0), MakeRealAc3(dir, "b.rm", 1.0)};
    const std::string log = dir.File("openings.log");
    const std::string out = dir.File("out");
    auto openings = [&] {
        std::map<std::string, int> count;
        std::istringstream lines(fs::exists(log) ? ReadFileBytes(log) : "");
        for (std::string line; std::getline(lines, line);)
            ++count[line.find("/.ardx-") != std::string::npos ? "temporary output" : line];
        return count;
    };
    const std::map<std::string, int> expected = {{inputs[0], 2}, {inputs[1], 2}, {"temporary output", 2}};

    ::setenv("ARDENTIX_OPENINGS", log.c_str(), 1);
    WriteSettingsText("[Options]\nOutputPath=" + out + "/\nSimultaneousConversions=1\n");
    ASSERT_TRUE(Create());
    AddThroughDialog(inputs);
    EXPECT_TRUE(OutputFiles(out).empty()) << "listing makes no output";
    EXPECT_EQ(openings(), (std::map<std::string, int>{{inputs[0], 1}, {inputs[1], 1}}));
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !form->RunGoing(); }));
    Destroy();
    ::unsetenv("ARDENTIX_OPENINGS");
    EXPECT_EQ(openings(), expected) << "the window";

    fs::remove(log);
    fs::remove_all(out);
    std::vector<std::string> args = {"-o", out, "-j", "1"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    fs::create_directories(dir.File("config"));
    WaitForConvertTool(SpawnConvertTool(args, dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"),
                                        {"ARDENTIX_OPENINGS=" + log}));
    EXPECT_EQ(openings(), expected) << "the terminal";
    EXPECT_EQ(OutputFiles(out), (std::vector<std::string>{"a.mp3", "b.mp3"}));

    // Again under skip: each output is opened once for the input it records, the inputs not at all.
    fs::remove(log);
    args.insert(args.begin(), {"--existing", "skip"});
    WaitForConvertTool(SpawnConvertTool(args, dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"),
                                        {"ARDENTIX_OPENINGS=" + log}));
    EXPECT_EQ(openings(), (std::map<std::string, int>{{out + "/a.mp3", 1}, {out + "/b.mp3", 1}}));
}
