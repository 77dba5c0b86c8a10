// ardentix-bench-transcode [--minutes N] [--repeat R] [--long]
//
// Converts a generated N-minute (default 10) 44100 Hz stereo AC-3 RealMedia file
// to MP3 at 256 kbit/s, 44100 Hz, stereo, the way the converter does, and times
// LAME alone encoding the same PCM (the file decoded to a WAV) at the same
// settings: LAME is the floor, so the ratio shows what decoding, resampling and
// writing add. Each side runs in a child process of its own so that its peak
// memory can be read. --long also converts a 1-minute file to compare memory.
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kKbps = 256;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process: other work on the machine does not count.
double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct TTimes {
    double wall = -1;
    double cpu = -1;
};

struct TChildResult {
    bool ok = false;
    TTimes times;  // reported by the child through a pipe
    long max_rss_kib = 0;
};

// Runs body in a child; body returns the times it measured (wall < 0 on failure).
template <typename F>
TChildResult InChild(F body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const TTimes t = body();
        (void)!write(fds[1], &t, sizeof t);
        _exit(t.wall < 0 ? 1 : 0);
    }
    close(fds[1]);
    TChildResult r;
    TTimes t;
    if (read(fds[0], &t, sizeof t) != static_cast<ssize_t>(sizeof t)) t = TTimes{};
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && t.wall >= 0;
    r.times = t;
    r.max_rss_kib = usage.ru_maxrss;
    return r;
}

TTimes ConvertOurs(const std::string& src, const std::string& dst, bool encoder_thread = true) {
    if (!FFmpegLoader().LoadLibs(DefaultLibs)) {
        std::fprintf(stderr, "libraries: %s\n", FFmpegLoader().LastError().c_str());
        return {};
    }
    avutil.av_log_set_level(AV_LOG_QUIET);
    const double start = Now();
    const double cpu_start = CpuNow();
    TCustomFFmpeg core;
    core.ResetOptionState();
    core.encode_in_thread = encoder_thread;
    if (!core.OpenInputFile(src)) {
        std::fprintf(stderr, "input: %s\n", core.last_error.c_str());
        return {};
    }
    core.SetCodecName('a', "libmp3lame");
    core.SetChannels(kChannels);
    core.SetSampleRate(kRate);
    core.SetGenericIntOption("ab", kKbps * 1000);
    if (!core.OpenOutputFile(dst)) {
        std::fprintf(stderr, "output: %s\n", core.last_error.c_str());
        return {};
    }
    bool ok = true;
    try {
        core.Transcode();
    } catch (const Exception& e) {
        std::fprintf(stderr, "transcode: %s\n", e.Message.c_str());
        ok = false;
    }
    core.FreeFiles();
    if (!ok) return {};
    return {Now() - start, CpuNow() - cpu_start};
}

// LAME's own interface, loaded from the library the media libraries use.
struct TLame {
    using lame_t = void*;
    lame_t (*init)() = nullptr;
    int (*set_in_samplerate)(lame_t, int) = nullptr;
    int (*set_out_samplerate)(lame_t, int) = nullptr;
    int (*set_num_channels)(lame_t, int) = nullptr;
    int (*set_brate)(lame_t, int) = nullptr;
    int (*init_params)(lame_t) = nullptr;
    int (*encode_interleaved)(lame_t, short*, int, unsigned char*, int) = nullptr;
    int (*flush)(lame_t, unsigned char*, int) = nullptr;
    int (*close)(lame_t) = nullptr;

    bool Load() {
        void* h = dlopen("libmp3lame.so.0", RTLD_NOW);
        if (!h) return false;
        init = reinterpret_cast<decltype(init)>(dlsym(h, "lame_init"));
        set_in_samplerate = reinterpret_cast<decltype(set_in_samplerate)>(dlsym(h, "lame_set_in_samplerate"));
        set_out_samplerate = reinterpret_cast<decltype(set_out_samplerate)>(dlsym(h, "lame_set_out_samplerate"));
        set_num_channels = reinterpret_cast<decltype(set_num_channels)>(dlsym(h, "lame_set_num_channels"));
        set_brate = reinterpret_cast<decltype(set_brate)>(dlsym(h, "lame_set_brate"));
        init_params = reinterpret_cast<decltype(init_params)>(dlsym(h, "lame_init_params"));
        encode_interleaved =
            reinterpret_cast<decltype(encode_interleaved)>(dlsym(h, "lame_encode_buffer_interleaved"));
        flush = reinterpret_cast<decltype(flush)>(dlsym(h, "lame_encode_flush"));
        close = reinterpret_cast<decltype(close)>(dlsym(h, "lame_close"));
        return init && set_in_samplerate && set_out_samplerate && set_num_channels && set_brate && init_params &&
               encode_interleaved && flush && close;
    }
};

// Encode-only: the WAV is read into memory first, as a file cache would hold it;
// the timed part is encoding and writing the MP3.
TTimes EncodeLame(const std::string& wav, const std::string& dst) {
    TLame lame;
    if (!lame.Load()) return {};
    std::vector<char> bytes(std::filesystem::file_size(wav));
    std::ifstream(wav, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    size_t pos = 12;
    size_t data = 0, data_size = 0;
    while (pos + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[pos + 4], 4);
        if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            data = pos + 8;
            data_size = std::min<size_t>(size, bytes.size() - data);
            break;
        }
        pos += 8 + size + (size & 1);
    }
    if (!data) return {};
    auto* pcm = reinterpret_cast<short*>(&bytes[data]);
    const int frames = static_cast<int>(data_size / (2 * kChannels));

    const double start = Now();
    const double cpu_start = CpuNow();
    void* gf = lame.init();
    lame.set_in_samplerate(gf, kRate);
    lame.set_out_samplerate(gf, kRate);
    lame.set_num_channels(gf, kChannels);
    lame.set_brate(gf, kKbps);
    if (lame.init_params(gf) < 0) return {};
    FILE* out = std::fopen(dst.c_str(), "wb");
    if (!out) return {};
    std::vector<unsigned char> mp3(1 << 20);
    constexpr int chunk = 1152 * 8;
    for (int done = 0; done < frames; done += chunk) {
        const int n = std::min(chunk, frames - done);
        const int got =
            lame.encode_interleaved(gf, pcm + static_cast<size_t>(done) * kChannels, n, mp3.data(), static_cast<int>(mp3.size()));
        if (got < 0) return {};
        std::fwrite(mp3.data(), 1, static_cast<size_t>(got), out);
    }
    const int got = lame.flush(gf, mp3.data(), static_cast<int>(mp3.size()));
    if (got > 0) std::fwrite(mp3.data(), 1, static_cast<size_t>(got), out);
    std::fclose(out);
    lame.close(gf);
    return {Now() - start, CpuNow() - cpu_start};
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    bool long_run = false;
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
            minutes = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--long") == 0) {
            long_run = true;
        } else if (std::strcmp(argv[i], "--profile") == 0 && i + 2 < argc) {
            // One conversion in this process, for a profiler.
            const TTimes t = ConvertOurs(argv[i + 1], argv[i + 2]);
            std::printf("%.3f s processor, %.3f s wall\n", t.cpu, t.wall);
            return t.wall < 0 ? 1 : 0;
        }
    }
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string src = (dir / "in.rm").string();
    const std::string wav = (dir / "in.wav").string();
    const std::string seconds = std::to_string(minutes * 60);
    std::printf("generating %.0f min of 44100 Hz stereo AC-3 RealMedia...\n", minutes);
    if (!bench::MakeFixture({"rm-ac3", src, "--seconds", seconds, "--rate", "44100", "--channels", "2"}) ||
        !bench::MakeFixture({"decode", src, wav})) {
        std::fprintf(stderr, "the fixture tool failed\n");
        fs::remove_all(dir);
        return 1;
    }

    const TChildResult libs = InChild([] {
        return FFmpegLoader().LoadLibs(DefaultLibs) ? TTimes{0, 0} : TTimes{};
    });
    // Each side runs `repeat` times, alternating; the fastest run of each counts,
    // which keeps other work on the machine out of the comparison.
    auto best = [](TChildResult& into, const TChildResult& r) {
        if (!r.ok) return;
        if (!into.ok) {
            into = r;
            return;
        }
        into.times.wall = std::min(into.times.wall, r.times.wall);
        into.times.cpu = std::min(into.times.cpu, r.times.cpu);
        into.max_rss_kib = std::max(into.max_rss_kib, r.max_rss_kib);
    };
    TChildResult lame, ours, single;
    for (int i = 0; i < repeat; ++i) {
        best(lame, InChild([&] { return EncodeLame(wav, (dir / "lame.mp3").string()); }));
        best(ours, InChild([&] { return ConvertOurs(src, (dir / "ours.mp3").string()); }));
        best(single, InChild([&] { return ConvertOurs(src, (dir / "single.mp3").string(), false); }));
    }
    if (!lame.ok || !ours.ok || !single.ok) {
        std::fprintf(stderr, "a run failed (lame %d, ours %d)\n", lame.ok, ours.ok);
        fs::remove_all(dir);
        return 1;
    }
    std::printf("input:             %.0f min, %.1f MiB\n", minutes, fs::file_size(src) / 1048576.0);
    std::printf("                    processor    wall\n");
    std::printf("lame (encode only): %8.3f s %8.3f s\n", lame.times.cpu, lame.times.wall);
    std::printf("ardentix (whole):   %8.3f s %8.3f s\n", ours.times.cpu, ours.times.wall);
    std::printf("ratio:              %8.3f   %8.3f   (target <= 1.03, wall)\n", ours.times.cpu / lame.times.cpu,
                ours.times.wall / lame.times.wall);
    std::printf("ardentix, one thread: %6.3f s %8.3f s (ratio %.3f wall)\n", single.times.cpu, single.times.wall,
                single.times.wall / lame.times.wall);
    std::printf("peak memory:        %8.1f MiB (target <= 40); the libraries alone %.1f MiB\n",
                ours.max_rss_kib / 1024.0, libs.max_rss_kib / 1024.0);

    if (long_run) {
        // The generator writes at most 10 minutes; memory that does not depend on
        // the length shows as the same peak for 1 and for N minutes.
        const std::string src1 = (dir / "in1.rm").string();
        if (bench::MakeFixture({"rm-ac3", src1, "--seconds", "60", "--rate", "44100", "--channels", "2"})) {
            const TChildResult ours1 = InChild([&] { return ConvertOurs(src1, (dir / "ours1.mp3").string()); });
            if (ours1.ok)
                std::printf("1 min:              peak memory %.1f MiB (difference to %.0f min: %.1f MiB, target <= 2)\n",
                            ours1.max_rss_kib / 1024.0, minutes, (ours.max_rss_kib - ours1.max_rss_kib) / 1024.0);
        }
    }
    fs::remove_all(dir);
    return 0;
}
