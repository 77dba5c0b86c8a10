// ardentix-bench-archive [--seconds S] [FILES...]: for each count (default
// 1000 10000 100000) makes an archive of that many names of one generated
// 2-second RealAudio file, hard-linked 100 to a folder, and converts it with
// ardentix-convert -j 2 for S seconds (default 30) before stopping it as
// Ctrl-C does. Prints the time to the first converted file (its report line),
// the files converted per second, the process's private memory at its peak
// (sampled every 50 ms) and at the stop, its threads at their most, and the
// time from the stop to its exit.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

// Private_Clean + Private_Dirty of a process, in KiB; -1 once it is gone.
long PrivateKiB(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long value = 0, total = 0;
    bool any = false;
    while (rollup >> key) {
        if (key == "Private_Clean:" || key == "Private_Dirty:") {
            rollup >> value;
            total += value;
            any = true;
        }
    }
    return any ? total : -1;
}

int Threads(pid_t pid) {
    int count = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

long Lines(const std::string& path) {
    std::ifstream in(path);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

// count names of source under root, 100 to a folder; a copy of it for every
// 50,000 names, under the file system's limit of links to one file.
bool MakeArchive(const std::string& source, const fs::path& root, int count) {
    std::error_code ec;
    std::string copy;
    for (int i = 0; i < count; ++i) {
        const fs::path folder = root / ("d" + std::to_string(i / 100));
        if (i % 100 == 0) fs::create_directories(folder, ec);
        if (i % 50000 == 0) {
            copy = (root / ("source" + std::to_string(i / 50000))).string();
            fs::copy_file(source, copy, ec);
        }
        fs::create_hard_link(copy, folder / ("f" + std::to_string(i) + ".ra"), ec);
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", folder.c_str(), ec.message().c_str());
            return false;
        }
    }
    return true;
}

double Since(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

void Measure(const fs::path& dir, const std::string& source, int count, double seconds) {
    const fs::path archive = dir / ("archive" + std::to_string(count));
    const fs::path out = dir / ("out" + std::to_string(count));
    const std::string report = (dir / ("report" + std::to_string(count) + ".jsonl")).string();
    if (!MakeArchive(source, archive, count)) return;
    const std::vector<std::string> args = {ARDENTIX_CONVERT_BIN, "-q", "-j", "2", "--report", report,
                                           "-o", out.string(), archive.string()};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = TClock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    double first = -1;
    long peak = 0, at_stop = 0;
    int threads = 0;
    bool ended = false;
    while (Since(start) < seconds) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            ended = true;
            break;
        }
        peak = std::max(peak, PrivateKiB(pid));
        threads = std::max(threads, Threads(pid));
        if (first < 0 && Lines(report) > 0) first = Since(start);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    at_stop = PrivateKiB(pid);
    const long converted = Lines(report);
    const double ran = Since(start);
    const auto stop = TClock::now();
    if (!ended) {
        ::kill(pid, SIGINT);
        ::waitpid(pid, nullptr, 0);
    }
    const std::string end = ended ? "all converted in " + std::to_string(ran) + " s"
                                  : std::to_string(at_stop / 1024) + " MiB at the stop, stopped in " +
                                        std::to_string(Since(stop)) + " s";
    std::printf("%7d files: first converted after %.2f s, %.1f files/s, private memory %ld MiB at most, %d threads "
                "at most, %s\n",
                count, first, converted / ran, peak / 1024, threads, end.c_str());
    std::fflush(stdout);
    fs::remove_all(archive);
    fs::remove_all(out);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
        else counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty()) counts = {1000, 10000, 100000};
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-archive-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string source = (dir / "one.ra").string();
    if (!bench::MakeFixture({"ra3", source, "--seconds", "2"})) {
        std::fprintf(stderr, "could not make %s\n", source.c_str());
        return 1;
    }
    for (int count : counts) Measure(dir, source, count, seconds);
    fs::remove_all(dir);
    return 0;
}
