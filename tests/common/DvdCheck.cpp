#include "tests/common/DvdCheck.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace ardentix::test {

DvdAuthoring AuthorDvdTitle(const std::string& mpg, const std::string& folder) {
  DvdAuthoring run;
  const std::string log = folder + ".log";
  std::vector<std::string> args = {"dvdauthor", "-o", folder, "-t", mpg};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  run.started = ::posix_spawnp(&pid, "dvdauthor", &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!run.started) return run;
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  run.said = text.str();
  return run;
}

}  // namespace ardentix::test
