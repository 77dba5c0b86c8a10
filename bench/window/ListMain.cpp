// ardentix-bench-list [files] [kind]: adds `files` names (default 10000) to the
// window at once, all hard links of one generated file of `kind` (default
// rm-ac3, 4 s), on an offscreen display, and prints how long the first rows
// took to show, how long until every name had its row (link files looked
// into, as listing does), how long until every file was read, and the longest the
// window's thread went without answering (a timer every 10 ms that notes the
// largest gap between its calls). The window should show rows within 1 s,
// have read them all within 10 s, and never be held up for more than 100 ms.
// It also prints how long pressing Convert then holds the window (the run
// plans only a few files before it starts).
#include <QApplication>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FrmMain.h"
#include "app/JobList.h"
#include "bench/BenchSupport.h"
#include "bench/window/SilentDesktop.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// `count` names for one generated file, in a folder of their own.
std::vector<std::string> MakeNames(const fs::path& dir, int count, const std::string& kind) {
    const fs::path first = dir / "in" / "file00000.rm";
    fs::create_directories(first.parent_path());
    if (!bench::MakeFixture({kind, first.string(), "--seconds", "4"})) return {};
    std::vector<std::string> names = {first.string()};
    for (int i = 1; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%05d.rm", i);
        const fs::path link = dir / "in" / name;
        fs::create_hard_link(first, link);
        names.push_back(link.string());
    }
    return names;
}

struct TFigures {
    double firstRows = -1, allListed = -1, allRead = -1, longestGap = 0, convert = -1;
    int rows = 0;
};

// Adds the names and runs the window's events until every file has been read.
TFigures AddAndWait(TForm1& form, const std::vector<std::string>& names) {
    const int count = static_cast<int>(names.size());
    TFigures f;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    tick.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    const Clock::time_point start = last;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        f.longestGap = std::max(f.longestGap, Seconds(last, now));
        last = now;
        const int rows = form.Lvw->model()->rowCount();
        if (f.firstRows < 0 && rows > 0) f.firstRows = Seconds(start, now);
        if (f.allListed < 0 && rows == count) f.allListed = Seconds(start, now);
        if (!form.ReadingFiles()) {
            f.allRead = Seconds(start, now);
            loop.quit();
        }
    });
    tick.start();
    // The addition itself counts: the timer cannot run until it returns.
    form.AddFiles(names);
    loop.exec();
    f.rows = form.Lvw->model()->rowCount();
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const std::string kind = argc > 2 ? argv[2] : "rm-ac3";
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-list-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    const std::vector<std::string> names = MakeNames(dir, count, kind);
    if (names.empty()) {
        std::fprintf(stderr, "cannot make the file to list\n");
        return 1;
    }
    std::ofstream((dir / "Options.ini").string()) << "[Options]\nOutputPath=" << (dir / "out").string() << "/\n";
    TSilentDesktop desktop;
    TAppPaths paths;
    paths.SettingsFile = (dir / "Options.ini").string();
    paths.Folders = {(dir / "music").string() + "/", (dir / "videos").string() + "/"};
    paths.ProgramFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
    TFigures f;
    {
        TForm1 form(desktop, desktop, paths);
        if (!form.FormCreate()) return 1;
        form.show();
        QCoreApplication::processEvents();
        f = AddAndWait(form, names);
        const Clock::time_point pressed = Clock::now();
        form.BtnStartClick();
        f.convert = Seconds(pressed, Clock::now());
        form.CloseWithoutAsking();
    }
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("%d names of one %s file on %u processors, load average now %.2f %.2f %.2f\n", count, kind.c_str(),
                std::thread::hardware_concurrency(), load[0], load[1], load[2]);
    std::printf("  first rows shown after %.3f s (at most 1 s)\n", f.firstRows);
    std::printf("  all rows listed after %.3f s\n", f.allListed);
    std::printf("  all %d rows read after %.3f s (at most 10 s)\n", f.rows, f.allRead);
    std::printf("  the window's thread was held up for at most %.0f ms (at most 100 ms)\n", f.longestGap * 1000);
    std::printf("  pressing Convert then held it for %.0f ms\n", f.convert * 1000);
    fs::remove_all(dir);
    const bool met = f.rows == count && f.firstRows <= 1 && f.allRead <= 10 && f.longestGap <= 0.1;
    return met ? 0 : 3;
}
