#include "tests/common/VideoCheck.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace ardentix::test {

namespace {

// Runs a program without a shell and returns what it wrote on its output.
std::string Capture(const std::vector<std::string>& args, int& status) {
  int fds[2];
  status = -1;
  if (::pipe(fds) != 0) return "";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int st = 0;
  if (pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st)) status = WEXITSTATUS(st);
  return out;
}

}  // namespace

bool HaveMediaInfo() {
  int status = -1;
  Capture({"mediainfo", "--Version"}, status);
  return status == 0;
}

std::string MediaInfoField(const std::string& path, const std::string& section, const std::string& field) {
  int status = -1;
  std::string out = Capture({"mediainfo", "--Inform=" + section + ";%" + field + "%", path}, status);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return status == 0 ? out : "";
}

}  // namespace ardentix::test
