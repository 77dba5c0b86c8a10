// ardentix-convert: converts media files to MP3 from a terminal or a script,
// driving the engine the way the converter window does.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "batch/Version.h"
#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tools/convert/ConvertOptions.h"
#include "tools/convert/ConvertRun.h"
#include "tools/convert/TerminalText.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    path[n] = '\0';
    return std::filesystem::path(path).parent_path().string() + "/";
}

}  // namespace

int main(int argc, char** argv) {
    TConvertOptions options = DefaultConvertOptions();
    std::string error;
    if (!ParseConvertArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "ardentix-convert: %s\nTry 'ardentix-convert --help'.\n", TerminalLines(error).c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(ConvertUsage().c_str(), stdout);
        return 0;
    }
    if (options.ListOptions) {
        std::fputs(OptionListing().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("ardentix-convert (Ardentix) %s\n", ProgramVersion().c_str());
        return 0;
    }
    TEventLoopWindowThread loop;
    TDAzaduVED engine(&loop);
    engine.SetLogLevel(options.Verbose ? llInfo : llQuiet);
    if (!engine.LoadLibraries(ProgramFolder() + "LibAV")) {
        std::fprintf(stderr, "ardentix-convert: %s\n", TerminalLines(engine.LastErrorText()).c_str());
        return 1;
    }
    engine.SetLogLevel(options.Verbose ? llInfo : llQuiet);
    int status;
    if (options.Info) {
        status = ShowInfo(engine, options);
    } else {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        ::sigemptyset(&action.sa_mask);
        // A second Ctrl-C ends the program at once.
        action.sa_flags = SA_RESETHAND;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        // A closed terminal or a reader that went away stops the run as Ctrl-C
        // does, so each file ends whole or not at all. Every later line to the
        // gone reader raises SIGPIPE again: that one stays handled.
        ::sigaction(SIGHUP, &action, nullptr);
        action.sa_flags = 0;
        ::sigaction(SIGPIPE, &action, nullptr);
        status = Convert(engine, loop, options, g_interrupted);
    }
    engine.UnloadLibraries();
    return status;
}
