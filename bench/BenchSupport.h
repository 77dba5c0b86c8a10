#pragma once
// What the benchmarks share: running a program to its end, the fixture
// generator among them, and the processor time used.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs args[0] with args and this process's environment, its output to
// /dev/null, and waits for it; its exit status, -1 when it could not run or
// did not exit by itself.
inline int RunQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// User and system seconds of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN).
inline double ProcessorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

#ifdef ARDENTIX_FIXTURES_BIN
// The fixture generator with args ("rm-ac3", file, ...); true when it made the file.
inline bool MakeFixture(const std::vector<std::string>& args) {
    std::vector<std::string> all = {ARDENTIX_FIXTURES_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return RunQuietly(all) == 0;
}
#else
inline bool MakeFixture(const std::vector<std::string>&) { return false; }
#endif

}  // namespace bench
