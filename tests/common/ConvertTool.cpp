#include "tests/common/ConvertTool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

extern char** environ;

namespace ardentix::test {

std::string ConvertToolPath() { return std::string(ARDENTIX_TEST_BIN_DIR) + "/../tools/convert/ardentix-convert"; }

std::string WindowProgramPath() { return std::string(ARDENTIX_TEST_BIN_DIR) + "/../app/ardentix"; }

std::string ChangelogVersion() {
    std::ifstream changelog(std::string(ARDENTIX_SOURCE_DIR) + "/package/changelog");
    std::string first;
    std::getline(changelog, first);
    const size_t open = first.find('('), close = first.find(')');
    return open == std::string::npos || close < open ? std::string() : first.substr(open + 1, close - open - 1);
}

pid_t SpawnConvertTool(const std::vector<std::string>& args, const std::string& home, const std::string& config,
                       const std::string& out_file, const std::string& err_file,
                       const std::vector<std::string>& extra_env, const std::string& in_file) {
    return SpawnProgram(ConvertToolPath(), args, home, config, out_file, err_file, extra_env, in_file);
}

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
                   const std::string& config, const std::string& out_file, const std::string& err_file,
                   const std::vector<std::string>& extra_env, const std::string& in_file) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config, "HOME=" + home, "PATH=/usr/bin:/bin"};
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        for (const char* sanitizer : {"ASAN_", "LSAN_", "UBSAN_", "TSAN_"})
            if (var.rfind(sanitizer, 0) == 0) env.push_back(var);
    }
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> cenv;
    for (auto& v : env) cenv.push_back(v.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, cargv.data(), cenv.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitForConvertTool(pid_t pid) {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ardentix::test
