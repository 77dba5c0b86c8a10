// Long batches: a task waiting for its turn holds no open file, so a thousand
// files convert under a limit of 256 open files, in the engine and in
// ardentix-convert; a file that cannot be opened again at its turn fails
// alone, with its reason.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hooks/FrameHooks.h"
#include "tests/common/ConvertTool.h"
#include "tests/common/ReportCheck.h"
#include "tests/engine/EngineFixture.h"

using namespace enginetest;
namespace fs = std::filesystem;


namespace {

int OpenFileCount() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++count;
        ::closedir(d);
    }
    return count;
}

// Lowers this process's open-file limit for a scope.
class TFileLimit {
public:
    explicit TFileLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        rlimit lower = old_;
        lower.rlim_cur = std::min<rlim_t>(limit, old_.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &lower);
    }
    ~TFileLimit() { ::setrlimit(RLIMIT_NOFILE, &old_); }
    TFileLimit(const TFileLimit&) = delete;
    TFileLimit& operator=(const TFileLimit&) = delete;

private:
    rlimit old_{};
};

// n copies of one short generated input.
std::vector<std::string> CopiesOf(const std::string& src, const TempDir& dir, int n) {
    fs::create_directories(dir.File("in"));
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
        files.push_back(dir.File("in/f" + std::to_string(i) + ".wav"));
        fs::copy_file(src, files.back());
    }
    return files;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST_F(EngineTest, WaitingTasksHoldNoOpenFile) {
    const std::string src = MakeWav(dir, "one.wav", 0.1, 8000, 1);
    const int before = OpenFileCount();
    for (int i = 0; i < 40; ++i) ASSERT_EQ(AddMp3Task(src, dir.File("o" + std::to_string(i) + ".mp3"), 1, 8000, 32), i);
    EXPECT_LE(OpenFileCount(), before + 2);
    // Nor does a waiting task leave an output file of its own on the disk.
    for (int i = 0; i < 40; ++i) EXPECT_FALSE(fs::exists(dir.File("o" + std::to_string(i) + ".mp3"))) << i;
    // Nor does one with an input only: files are opened when a task starts.
    ASSERT_EQ(engine->AddTask(src), 40);
    EXPECT_LE(OpenFileCount(), before + 2);
}

TEST_F(EngineTest, AThousandFilesConvertUnderTwoHundredFiftySixOpenFiles) {
    // The whole way, listing to placed outputs, through the terminal face in a
    // process allowed 256 open files: waiting tasks must hold none.
    if (!fs::exists(ConvertToolPath())) GTEST_SKIP() << ConvertToolPath() << " is not built";
    const std::vector<std::string> files = CopiesOf(MakeWav(dir, "one.wav", 0.1, 8000, 1), dir, 1000);
    const std::string out = dir.File("out") + "/";
    const std::string report = dir.File("report.jsonl");
    std::vector<std::string> args = {"-q", "-o", out, "-j", "2", "-c", "1", "-r", "8000", "-b", "32", "--report", report};
    args.insert(args.end(), files.begin(), files.end());
    pid_t pid;
    {
        TFileLimit limit(256);  // inherited by the child
        pid = SpawnConvertTool(args, dir.Path(), dir.File("config"), dir.File("stdout"), dir.File("stderr"));
    }
    int status;
    {
        TWatchdog watchdog("ardentix-convert over a thousand files", std::chrono::seconds(600));
        status = WaitForConvertTool(pid);
    }
    EXPECT_EQ(status, 0) << Slurp(dir.File("stderr")).substr(0, 2000);
    // One record each, every one converted, into a whole MP3 of the input's length.
    const auto rows = ReportRows(report, {"outcome"});
    int completed = 0;
    for (const auto& row : rows) completed += row[0] == "completed";
    EXPECT_EQ(rows.size(), 1000u);
    EXPECT_EQ(completed, 1000);
    for (int i = 0; i < 1000; ++i) {
        const DecodedAudio mp3 = DecodeMp3(out + "f" + std::to_string(i) + ".mp3");
        ASSERT_TRUE(mp3.ok) << i << ": " << mp3.error;
        EXPECT_EQ(mp3.rate, 8000);
        EXPECT_NEAR(mp3.Seconds(), 0.1, 0.1);
    }
}

TEST_F(EngineTest, AFileThatCannotBeOpenedAgainFailsAloneWithItsReason) {
    // Each of these happens to a file between adding it and its turn.
    struct TCase {
        const char* name;
        std::function<void(const std::string& input, const std::string& output)> spoil;
        std::string reason;  // part of the failed task's message
    };
    const std::vector<TCase> cases = {
        {"input deleted", [](const std::string& in, const std::string&) { fs::remove(in); },
         "no such file or directory"},
        {"input replaced by noise",
         [](const std::string& in, const std::string&) {
             std::ofstream(in, std::ios::binary | std::ios::trunc) << std::string(4096, '\x5a');
         },
         ""},
        {"output folder removed",
         [](const std::string&, const std::string& out) { fs::remove_all(fs::path(out).parent_path()); }, ""},
    };
    int round = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        engine->ClearTasks();
        const std::string sub = dir.File("r" + std::to_string(round++));
        fs::create_directories(sub + "/out1");
        std::vector<std::string> in, out;
        for (int i = 0; i < 3; ++i) {
            in.push_back(MakeWav(dir, "r" + std::to_string(round) + "_" + std::to_string(i) + ".wav", 0.3, 8000, 1));
            out.push_back(sub + (i == 1 ? "/out1/" : "/") + std::to_string(i) + ".mp3");
            ASSERT_EQ(AddMp3Task(in[i], out[i], 1, 8000, 32), i);
        }
        c.spoil(in[1], out[1]);
        const size_t before = recorder.Of('t').size();
        const size_t logged = recorder.Of('l').size();
        engine->StartConvert(1);
        ASSERT_TRUE(recorder.WaitEndOfRun(round));
        const auto t = recorder.Of('t');
        ASSERT_EQ(t.size(), before + 4);
        EXPECT_EQ(t[before + 1].index, 1);
        EXPECT_TRUE(t[before + 1].terminate.Exception);
        EXPECT_FALSE(t[before + 1].terminate.Finished);
        EXPECT_NE(t[before + 1].terminate.Message, "");
        EXPECT_NE(t[before + 1].terminate.Message.find(c.reason), std::string::npos) << t[before + 1].terminate.Message;
        // The same reason went to the log at the quiet level.
        bool heard = false;
        const auto lines = recorder.Of('l');
        for (size_t i = logged; i < lines.size(); ++i)
            heard |= lines[i].index == 1 && lines[i].level == llQuiet && lines[i].text == t[before + 1].terminate.Message;
        EXPECT_TRUE(heard);
        // The others converted, before and after it.
        for (int i : {0, 2}) {
            EXPECT_EQ(t[before + i].index, i);
            EXPECT_TRUE(t[before + i].terminate.Finished) << t[before + i].terminate.Message;
            EXPECT_TRUE(DecodeMp3(out[i]).ok) << out[i];
        }
        EXPECT_EQ(t[before + 3].index, -1);
    }
}

TEST_F(EngineTest, ASecondOutputJoinsAWaitingTask) {
    const std::string src = MakeWav(dir, "two.wav", 0.5, 8000, 1);
    ASSERT_EQ(AddMp3Task(src, dir.File("a.mp3"), 1, 8000, 32), 0);
    TOutputOptions out;
    out.AudioCodec = "libmp3lame";
    out.AudioChannels = 1;
    out.AudioSampleRate = 8000;
    ASSERT_TRUE(engine->SetOutputFile(0, dir.File("b.mp3"), &out)) << engine->LastErrorText();
    // Refused outputs leave the task as it was.
    EXPECT_FALSE(engine->SetOutputFile(0, dir.File("missing/c.mp3"), &out));
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    ASSERT_EQ(TerminateOrder(), (std::vector<int>{0, -1}));
    EXPECT_TRUE(recorder.Of('t')[0].terminate.Finished) << recorder.Of('t')[0].terminate.Message;
    for (const char* name : {"a.mp3", "b.mp3"}) {
        const DecodedAudio mp3 = DecodeMp3(dir.File(name));
        ASSERT_TRUE(mp3.ok) << name << ": " << mp3.error;
        EXPECT_NEAR(mp3.Seconds(), 0.5, 0.1);
    }
    EXPECT_FALSE(fs::exists(dir.File("missing")));
}

// A frame-hook plug-in is set up and released once for a task, however long the
// task waited for its turn: only the start opens what the task asked for.
TEST_F(EngineTest, APluginIsConfiguredOncePerTask) {
    const std::string plugin = std::string(ARDENTIX_TEST_HOOKS) + "/recorder.so";
    std::string error;
    void* module = LoadHookLibrary(plugin, error);
    ASSERT_NE(module, nullptr) << error;
    const auto text = reinterpret_cast<const char* (*)()>(::dlsym(module, "RecorderText"));
    const auto clear = reinterpret_cast<void (*)()>(::dlsym(module, "RecorderClear"));
    ASSERT_TRUE(text && clear);
    clear();
    const std::string src = MakeRealVideo(dir, "in.rm", 0.3);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(engine->AddTask(src), i);
        TOutputOptions out;
        out.ExtOptions = "vhook=" + plugin;
        ASSERT_TRUE(engine->SetOutputFile(i, dir.File("out" + std::to_string(i) + ".mkv"), &out));
    }
    EXPECT_EQ(std::string(text()), "") << "nothing is set up before the run";
    engine->StartConvert(1);
    ASSERT_TRUE(recorder.WaitEndOfRun());
    const std::string calls = text();
    auto count = [&](const std::string& word) {
        int n = 0;
        for (size_t at = calls.find(word); at != std::string::npos; at = calls.find(word, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("configure"), 2) << calls;
    EXPECT_EQ(count("release"), 2) << calls;
}

TEST_F(EngineTest, TasksJoinARunGoingAndNotOneBeingStopped) {
    // A long batch is handed over a few files at a time: each joins the run
    // going, which ends once, after all of them.
    const std::string src = MakeWav(dir, "one.wav", 0.3, 8000, 1);
    ASSERT_EQ(AddMp3Task(MakeWav(dir, "long.wav", 30, 8000, 1), dir.File("o0.mp3"), 1, 8000, 32), 0);
    engine->StartConvert(1);
    // Held, so that the run is surely going while the others join; one place stays taken.
    engine->PauseConvert();
    for (int i = 1; i < 4; ++i) {
        const int index = AddMp3Task(src, dir.File("o" + std::to_string(i) + ".mp3"), 1, 8000, 32);
        EXPECT_TRUE(engine->JoinRun(index)) << i;
        EXPECT_TRUE(engine->JoinRun(index)) << "joining twice counts once";
    }
    EXPECT_FALSE(engine->TaskResult(1).Began);
    engine->ResumeConvert();
    ASSERT_TRUE(recorder.WaitEndOfRun());
    EXPECT_EQ(TerminateOrder(), (std::vector<int>{0, 1, 2, 3, -1}));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(engine->TaskResult(i).End == TTaskEnd::Finished) << i;
    // Without a run, or once it is being stopped, a task waits for the next StartConvert.
    const int idle = AddMp3Task(src, dir.File("o4.mp3"), 1, 8000, 32);
    EXPECT_FALSE(engine->JoinRun(idle));
    engine->StartConvert(1);
    engine->StopConvert();
    const int late = AddMp3Task(src, dir.File("o5.mp3"), 1, 8000, 32);
    EXPECT_FALSE(engine->JoinRun(late));
    ASSERT_TRUE(recorder.WaitEndOfRun(2));
    EXPECT_FALSE(engine->TaskResult(late).Began);
    EXPECT_FALSE(fs::exists(dir.File("o5.mp3")));
}
