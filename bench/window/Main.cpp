// ardentix-bench-window [files] [seconds] [rounds]: makes `files` equal generated
// RealMedia files of `seconds` each (default 4 of 300 s), converts them in the window
// (offscreen, no one at the keyboard) with "Simultaneous conversions" at 1 and at 2,
// `rounds` times each (default 3; the fastest round counts, so that other load on the
// machine weighs less), and prints the wall-clock times and their ratio.
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FrmMain.h"
#include "bench/BenchSupport.h"
#include "bench/window/SilentDesktop.h"

namespace fs = std::filesystem;

namespace {

// Wall-clock seconds of one batch in the window; cpu receives the processor seconds.
double Batch(TForm1& form, int atOnce, const std::string& out, double& cpu) {
    for (const auto& e : fs::directory_iterator(out)) fs::remove(e.path());
    form.SpnSimultaneous->setValue(atOnce);
    const double cpu_before = bench::ProcessorSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    form.BtnStartClick();
    while (form.RunGoing()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cpu = bench::ProcessorSeconds(RUSAGE_SELF) - cpu_before;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (form.Summary().Count(TFileOutcome::Completed) != form.Summary().Total()) {
        std::fprintf(stderr, "the batch did not convert every file:\n%s", form.SummaryText().c_str());
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 4;
    const std::string seconds = argc > 2 ? argv[2] : "300";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-window-" + std::to_string(::getpid()));
    fs::create_directories(dir / "docs");
    fs::create_directories(dir / "out");
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const std::string file = (dir / ("in" + std::to_string(i) + ".rm")).string();
        if (!bench::MakeFixture({"rm-ac3", file, "--seconds", seconds})) {
            std::fprintf(stderr, "cannot make %s\n", file.c_str());
            return 1;
        }
        files.push_back(file);
    }
    const std::string out = (dir / "out").string() + "/";
    std::ofstream((dir / "Options.ini").string()) << "[Options]\nOutputPath=" << out << "\nExistingOutputs=replace\n";

    TSilentDesktop desktop;
    TAppPaths paths;
    paths.SettingsFile = (dir / "Options.ini").string();
    paths.Folders = {(dir / "music").string() + "/", (dir / "videos").string() + "/"};
    paths.ProgramFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
    double one = 1e300, two = 1e300, cpu_one = 0, cpu_two = 0;
    {
        TForm1 form(desktop, desktop, paths);
        if (!form.FormCreate()) return 1;
        form.AddFiles(files);
        // Converting is measured, not reading: the run starts with every file read.
        while (form.ReadingFiles()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (int round = 0; round < rounds; ++round) {
            double cpu = 0;
            const double a = Batch(form, 1, out, cpu);
            if (a < one) one = a, cpu_one = cpu;
            const double b = Batch(form, 2, out, cpu);
            if (b < two) two = b, cpu_two = cpu;
        }
        form.CloseWithoutAsking();
    }
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("%d files of %s s on %u processors, fastest of %d rounds, load average now %.2f %.2f %.2f\n",
                count, seconds.c_str(), std::thread::hardware_concurrency(), rounds, load[0], load[1], load[2]);
    std::printf("  1 at a time: %.2f s wall, %.2f s cpu (%.2f busy)\n", one, cpu_one, cpu_one / one);
    std::printf("  2 at a time: %.2f s wall, %.2f s cpu (%.2f busy)\n", two, cpu_two, cpu_two / two);
    std::printf("  ratio %.3f (two at a time / one at a time)\n", two / one);
    fs::remove_all(dir);
    return 0;
}
