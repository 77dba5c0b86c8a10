// ardentix-bench-walk [NAMES...]: for each count (default 100000 1000000)
// makes a tree of that many names, 1,000 to a folder, hard links of one
// small file a folder, and lists it as ardentix-convert does (the walk ahead of the run,
// its count riding on it), counting every call of the stat family the
// process makes meanwhile; then lists the same names given as a list, as
// --files-from reads it. Prints the calls per entry, the time, and the
// memory the process holds at its most (VmHWM) before and after each list.
// The stat family is counted here by standing in for the C library's
// functions, which this program's code and the libraries it loads reach
// first.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "batch/FileSource.h"

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

std::atomic<long> g_stats{0};

template <typename T>
T Next(const char* name) {
    return reinterpret_cast<T>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {
int stat(const char* path, struct stat* info) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(const char*, struct stat*)>("stat");
    return real(path, info);
}
int stat64(const char* path, struct stat64* info) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(const char*, struct stat64*)>("stat64");
    return real(path, info);
}
int lstat(const char* path, struct stat* info) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(const char*, struct stat*)>("lstat");
    return real(path, info);
}
int lstat64(const char* path, struct stat64* info) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(const char*, struct stat64*)>("lstat64");
    return real(path, info);
}
int fstatat(int folder, const char* path, struct stat* info, int flags) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return real(folder, path, info, flags);
}
int fstatat64(int folder, const char* path, struct stat64* info, int flags) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
    return real(folder, path, info, flags);
}
int statx(int folder, const char* path, int flags, unsigned mask, struct statx* info) noexcept {
    ++g_stats;
    static const auto real = Next<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
    return real(folder, path, flags, mask, info);
}
}

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmHWM:") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// Every file the source hands out, as a run takes them: waiting for the walk when it is behind.
long Drain(TListingSource& source) {
    long files = 0;
    for (TListedFile file;;) {
        while (!source.Ready()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!source.Next(file)) break;
        ++files;
    }
    return files;
}

void Measure(const char* what, long names, const std::function<std::unique_ptr<TListingSource>()>& make) {
    const long peak_before = PeakKiB();
    g_stats = 0;
    const auto start = TClock::now();
    long files = 0;
    {
        const std::unique_ptr<TListingSource> source = make();
        files = Drain(*source);
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    std::printf("  %-6s %8ld files of %8ld names: %5.2f stat calls a name, %6.2f s, peak memory %ld -> %ld KiB\n",
                what, files, names, static_cast<double>(g_stats.load()) / static_cast<double>(names), seconds,
                peak_before, PeakKiB());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atol(argv[i]));
    if (counts.empty()) counts = {100000, 1000000};
    const char* tmp = std::getenv("TMPDIR");
    const std::string work = std::string(tmp && *tmp ? tmp : "/tmp") + "/ardentix-bench-walk";
    constexpr long kPerFolder = 1000;
    for (const long names : counts) {
        fs::remove_all(work);
        fs::create_directories(work + "/tree");
        std::ofstream list(work + "/list");
        for (long i = 0; i < names; ++i) {
            // A file of its own a folder (hidden, so not walked): a file takes only so many links.
            const std::string folder = work + "/tree/" + std::to_string(i / kPerFolder);
            if (i % kPerFolder == 0) {
                fs::create_directory(folder);
                std::ofstream(folder + "/.one").put('\0');
            }
            const std::string name = folder + "/f" + std::to_string(i) + ".rm";
            fs::create_hard_link(folder + "/.one", name);
            list << name << "\n";
        }
        list.close();
        std::printf("%ld names, %ld folders:\n", names, (names + kPerFolder - 1) / kPerFolder);
        const TListingRoots roots{"", work + "/out", {}};
        Measure("walk", names, [&] { return std::make_unique<TListingSource>(std::vector<std::string>{work + "/tree"}, roots, true); });
        Measure("list", names, [&] {
            return std::make_unique<TListingSource>(GivenNames({}, {{0, work + "/list"}}), roots, true);
        });
    }
    fs::remove_all(work);
    return 0;
}
