#pragma once
// ardentix-convert as a child process, with a home and settings of the test's own.
#include <sys/types.h>

#include <string>
#include <vector>

namespace ardentix::test {

// Where the build put the program, and the window's program.
std::string ConvertToolPath();
std::string WindowProgramPath();

// The version the newest entry of package/changelog names: the one every face tells.
std::string ChangelogVersion();

// Starts the program with args: standard input from in_file, its output and
// errors into the files given, HOME and XDG_CONFIG_HOME as given, the
// sanitizers' settings passed on, and extra_env ("NAME=VALUE") added.
pid_t SpawnConvertTool(const std::vector<std::string>& args, const std::string& home, const std::string& config,
                       const std::string& out_file, const std::string& err_file,
                       const std::vector<std::string>& extra_env = {},
                       const std::string& in_file = "/dev/null");

// The same for another program of the build.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
                   const std::string& config, const std::string& out_file, const std::string& err_file,
                   const std::vector<std::string>& extra_env = {}, const std::string& in_file = "/dev/null");

// Waits for the child; its exit status, or -1 when a signal ended it.
int WaitForConvertTool(pid_t pid);

}  // namespace ardentix::test
