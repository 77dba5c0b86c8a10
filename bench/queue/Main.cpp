// ardentix-bench-queue [tasks] [run]: adds `tasks` (default 1000) copies of one
// generated one-second WAV file to an engine the way the window does (AddTask,
// then SetOutputFile with an MP3 record) and prints the resident memory and
// the open files per queued task; with "run" it then converts them with two
// threads and prints the wall-clock time.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/DAzaduVED.h"
#include "engine/FFmpegTask.h"
#include "engine/EventLoop.h"


namespace fs = std::filesystem;

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

int OpenFiles() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++count;
        ::closedir(d);
    }
    return count;
}

bool MakeInput(const std::string& path) { return bench::MakeFixture({"wav", path, "--seconds", "1"}); }

}  // namespace

int main(int argc, char** argv) {
    const int tasks = argc > 1 ? std::atoi(argv[1]) : 1000;
    const bool run = argc > 2 && std::string(argv[2]) == "run";
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-queue-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    const std::string input = (dir / "one.wav").string();
    if (!MakeInput(input)) {
        std::fprintf(stderr, "could not make %s\n", input.c_str());
        return 1;
    }
    TEventLoopWindowThread loop;
    TDAzaduVED engine(&loop);
    if (!engine.LoadLibraries("")) {
        std::fprintf(stderr, "%s\n", engine.LastErrorText().c_str());
        return 1;
    }
    engine.SetLogLevel(llQuiet);
    // One task first, so that what every task shares (codec tables) is counted out.
    const auto add = [&](int i) {
        TInputOptions in;
        const int index = engine.AddTask(input, &in);
        TOutputOptions out;
        out.AudioCodec = "libmp3lame";
        out.AudioChannels = 2;
        out.AudioSampleRate = 44100;
        out.AudioBitrate = 128000;
        if (index < 0 || !engine.SetOutputFile(index, (dir / "out" / (std::to_string(i) + ".mp3")).string(), &out)) {
            std::fprintf(stderr, "task %d: %s\n", i, engine.LastErrorText().c_str());
            std::exit(1);
        }
    };
    add(0);
    const long rss_before = ResidentKiB();
    const int files_before = OpenFiles();
    for (int i = 1; i < tasks; ++i) add(i);
    const long rss_after = ResidentKiB();
    const int files_after = OpenFiles();
    const int queued = tasks - 1;
    std::printf("%d tasks queued: resident %+ld KiB (%.1f KiB per task), open files %+d (%.2f per task)\n", queued,
                rss_after - rss_before, queued ? double(rss_after - rss_before) / queued : 0.0,
                files_after - files_before, queued ? double(files_after - files_before) / queued : 0.0);
    if (run) {
        std::atomic<bool> over{false};
        int failed = 0;
        engine.SetOnTerminate([&](int index, bool finished, bool, const std::string&) {
            if (index < 0) over = true;
            else if (!finished) ++failed;
            loop.Wake();
        });
        const auto start = std::chrono::steady_clock::now();
        engine.StartConvert(2);
        loop.RunUntil([&] { return over.load(); }, std::chrono::hours(1));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("converted with 2 threads in %.1f s, %d not finished, resident now %ld KiB\n", seconds, failed,
                    ResidentKiB());
    }
    engine.ClearTasks();
    fs::remove_all(dir);
    return 0;
}
