// ardentix-bench-sample [--seconds S] [--repeat R]
//
// What sampling the pictures adds to listing a file: a generated S-second
// (default 600) 720x576 25 fps RealVideo 2 + AC-3 RealMedia file and a
// Matroska MPEG-4 one are opened with the probe alone, and opened and sampled
// (SamplePictures, as ListFiles does), R times each (default 5); the best run
// counts. Target: well under a second per file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "batch/PictureSample.h"
#include "bench/BenchSupport.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"

namespace {

// The best wall-clock seconds of `repeat` opens, each sampled or not.
double BestOpen(const std::string& file, int repeat, bool sample, TPictureSample& last) {
    double best = 1e9;
    for (int i = 0; i < repeat; ++i) {
        TAVProbe probe;
        const auto start = std::chrono::steady_clock::now();
        if (!probe.Open(file)) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), probe.LastError().c_str());
            std::exit(1);
        }
        if (sample) last = SamplePictures(probe.FormatContext());
        probe.Close();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::string seconds = "600";
    int repeat = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--seconds") seconds = argv[i + 1];
        if (std::string(argv[i]) == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!FFmpegLoader().LoadLibs(DefaultLibs)) {
        std::fprintf(stderr, "%s\n", FFmpegLoader().LastError().c_str());
        return 1;
    }
    const std::string dir = std::filesystem::temp_directory_path() / "ardentix-bench-sample";
    std::filesystem::create_directories(dir);
    const std::vector<std::string> pal = {"--size", "720x576", "--fps", "25", "--seconds", seconds};
    const struct {
        std::string file, kind, video;
    } inputs[] = {{dir + "/tv.rm", "rm-video", "rv20"}, {dir + "/tv.mkv", "mkv-mpeg4", ""}};
    for (const auto& in : inputs) {
        std::vector<std::string> args = {in.kind, in.file};
        args.insert(args.end(), pal.begin(), pal.end());
        if (!in.video.empty()) args.insert(args.end(), {"--video", in.video});
        if (!bench::MakeFixture(args)) {
            std::fprintf(stderr, "cannot make %s\n", in.file.c_str());
            return 1;
        }
        TPictureSample sample;
        const double probe = BestOpen(in.file, repeat, false, sample);
        const double sampled = BestOpen(in.file, repeat, true, sample);
        std::printf("%s (%s s): probe %.3f s, probe and sample %.3f s, sampling adds %.3f s (%d pictures)\n",
                    in.file.c_str(), seconds.c_str(), probe, sampled, sampled - probe, sample.Pictures);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
