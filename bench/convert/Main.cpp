// ardentix-bench-convert [files] [seconds] [rounds]: makes `files` generated
// RealMedia files of `seconds` each (default 4 of 600 s), converts them with
// ardentix-convert -j 1 and -j 2, `rounds` times each (default 3, the fastest
// round counts, so that other load on the machine weighs less), and prints the
// wall-clock times and the speed-up.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"

namespace fs = std::filesystem;

namespace {

// Wall-clock seconds of one conversion; cpu receives the processor seconds it used,
// so cpu / wall shows how many processors it kept busy on a loaded machine too.
double Convert(const std::string& out, int jobs, const std::vector<std::string>& files, double& cpu) {
    fs::remove_all(out);
    std::vector<std::string> args = {ARDENTIX_CONVERT_BIN, "-q", "--overwrite", "-o", out, "-j", std::to_string(jobs)};
    args.insert(args.end(), files.begin(), files.end());
    const double cpu_before = bench::ProcessorSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const int status = bench::RunQuietly(args);
    cpu = bench::ProcessorSeconds(RUSAGE_CHILDREN) - cpu_before;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "ardentix-convert -j %d failed with %d\n", jobs, status);
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef ARDENTIX_FIXTURES_BIN
    std::fprintf(stderr, "built without the fixture generator\n");
    return 1;
#else
    const int count = argc > 1 ? std::atoi(argv[1]) : 4;
    const std::string seconds = argc > 2 ? argv[2] : "600";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-convert-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const std::string file = (dir / ("in" + std::to_string(i) + ".rm")).string();
        if (!bench::MakeFixture({"rm-ac3", file, "--seconds", seconds})) {
            std::fprintf(stderr, "cannot make %s\n", file.c_str());
            return 1;
        }
        files.push_back(file);
    }
    double one = 1e300, two = 1e300, cpu_one = 0, cpu_two = 0;
    for (int round = 0; round < rounds; ++round) {
        double cpu = 0;
        const double a = Convert((dir / "j1").string(), 1, files, cpu);
        if (a < one) one = a, cpu_one = cpu;
        const double b = Convert((dir / "j2").string(), 2, files, cpu);
        if (b < two) two = b, cpu_two = cpu;
    }
    std::printf("%d files of %s s on %u processors, fastest of %d rounds\n", count, seconds.c_str(),
                std::thread::hardware_concurrency(), rounds);
    std::printf("  -j 1: %.2f s wall, %.2f s cpu (%.2f busy)\n", one, cpu_one, cpu_one / one);
    std::printf("  -j 2: %.2f s wall, %.2f s cpu (%.2f busy)\n", two, cpu_two, cpu_two / two);
    std::printf("  speed-up %.2f\n", one / two);
    fs::remove_all(dir);
    return 0;
#endif
}
