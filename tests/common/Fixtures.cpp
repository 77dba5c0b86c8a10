#include "tests/common/Fixtures.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace ardentix::test {

namespace {

std::string Num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string FreqList(const std::vector<double>& freqs) {
  std::string s;
  for (double f : freqs)
    s += (s.empty() ? "" : ",") + Num(f);
  return s;
}

std::string CommandLine(const std::vector<std::string>& args) {
  std::string s = "ardentix-fixtures";
  for (const auto& a : args)
    s += " " + a;
  return s;
}

struct Fd {
  int fd = -1;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t a;
  SpawnActions() { posix_spawn_file_actions_init(&a); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&a); }
};

} // namespace

TempDir::TempDir() {
  char templ[] = "/tmp/ardentix-test-XXXXXX";
  if (!::mkdtemp(templ))
    throw FixtureError(std::string("cannot create a temporary folder: ") + std::strerror(errno));
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

ToolRun RunFixtureTool(const std::vector<std::string>& args) {
  ToolRun run;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0)
    throw FixtureError("pipe failed");
  Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
  if (::pipe2(errPipe, O_CLOEXEC) != 0)
    throw FixtureError("pipe failed");
  Fd errRead{errPipe[0]}, errWrite{errPipe[1]};

  std::vector<std::string> argv = {ARDENTIX_FIXTURES_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv)
    cargv.push_back(a.data());
  cargv.push_back(nullptr);

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(&actions.a, outWrite.fd, 1);
  posix_spawn_file_actions_adddup2(&actions.a, errWrite.fd, 2);
  posix_spawn_file_actions_addopen(&actions.a, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, ARDENTIX_FIXTURES_BIN, &actions.a, nullptr, cargv.data(), environ);
  outWrite.Close();
  errWrite.Close();
  if (rc != 0) {
    run.err = std::string("cannot start " ARDENTIX_FIXTURES_BIN ": ") + std::strerror(rc);
    return run;
  }

  // Read both pipes together so a chatty tool never blocks on a full pipe.
  pollfd fds[2] = {{outRead.fd, POLLIN, 0}, {errRead.fd, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  char buf[4096];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string RunFixtureToolOrThrow(const std::vector<std::string>& args) {
  ToolRun run = RunFixtureTool(args);
  if (run.exitCode != 0)
    throw FixtureError(CommandLine(args) + " failed (exit " + std::to_string(run.exitCode) +
                       "): " + run.err);
  return run.out;
}

namespace {

std::string Make(const std::string& path, std::vector<std::string> args) {
  RunFixtureToolOrThrow(args);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw FixtureError(CommandLine(args) + " reported success but wrote no file");
  return path;
}

std::vector<std::string> ToneArgs(double seconds, const std::vector<double>& freqs) {
  std::vector<std::string> a = {"--seconds", Num(seconds)};
  if (!freqs.empty()) {
    a.push_back("--freq");
    a.push_back(FreqList(freqs));
  }
  return a;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

} // namespace

std::string MakeRealAudio144(const TempDir& dir, const std::string& name, double seconds, double freq) {
  const std::string path = dir.File(name);
  return Make(path, Join({"rm-ra144", path}, ToneArgs(seconds, {freq})));
}

std::string MakeBareRealAudio144(const TempDir& dir, const std::string& name, double seconds,
                                 double freq) {
  const std::string path = dir.File(name);
  return Make(path, Join({"ra3", path}, ToneArgs(seconds, {freq})));
}

std::string MakeRealAc3(const TempDir& dir, const std::string& name, double seconds, int rate,
                        int channels, const std::vector<double>& freqs) {
  const std::string path = dir.File(name);
  return Make(path, Join({"rm-ac3", path, "--rate", std::to_string(rate), "--channels",
                          std::to_string(channels)},
                         ToneArgs(seconds, freqs)));
}

std::string MakeRealVideo(const TempDir& dir, const std::string& name, double seconds,
                          const std::string& video, RealAudio audio) {
  const std::string path = dir.File(name);
  const char* a = audio == RealAudio::Ac3 ? "ac3" : audio == RealAudio::Ra144 ? "ra144" : "none";
  return Make(path, {"rm-video", path, "--seconds", Num(seconds), "--video", video, "--audio", a});
}

std::string MakeWav(const TempDir& dir, const std::string& name, double seconds, int rate,
                    int channels, const std::vector<double>& freqs) {
  const std::string path = dir.File(name);
  return Make(path, Join({"wav", path, "--rate", std::to_string(rate), "--channels",
                          std::to_string(channels)},
                         ToneArgs(seconds, freqs)));
}

std::string MakeMp3(const TempDir& dir, const std::string& name, double seconds, int rate,
                    int channels, int bitrateKbps, const std::vector<double>& freqs) {
  const std::string path = dir.File(name);
  return Make(path, Join({"mp3", path, "--rate", std::to_string(rate), "--channels",
                          std::to_string(channels), "--bitrate", std::to_string(bitrateKbps)},
                         ToneArgs(seconds, freqs)));
}

std::string MakeFixture(const TempDir& dir, const std::string& name, const std::string& kind,
                        const std::vector<std::string>& options) {
  const std::string path = dir.File(name);
  return Make(path, Join({kind, path}, options));
}

std::string MakeCut(const std::string& src, double percent, const std::string& dst) {
  return Make(dst, {"cut", dst, "--from", src, "--percent", Num(percent)});
}

std::string MakeRandom(const TempDir& dir, const std::string& name, std::size_t bytes,
                       std::uint64_t seed, bool realMagic) {
  const std::string path = dir.File(name);
  std::vector<std::string> args = {"random", path, "--bytes", std::to_string(bytes), "--seed",
                                   std::to_string(seed)};
  if (realMagic) {
    args.push_back("--magic");
    args.push_back("rm");
  }
  return Make(path, args);
}

std::string MakeEmpty(const TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  return Make(path, {"empty", path});
}

std::string SamplesDir() {
  const char* chosen = std::getenv("ARDENTIX_SAMPLES_DIR");
  return chosen && *chosen ? chosen : ARDENTIX_SAMPLES_DIR;
}

bool SamplesPresent() {
  std::error_code ec;
  return std::filesystem::is_regular_file(SamplePath("header-only.rm"), ec);
}

std::string SamplesMissingText() {
  return "no sample files at " + SamplesDir() + " (they come with the workspace, not with the code)";
}

std::string SamplePath(const std::string& name) {
  return SamplesDir() + "/" + name;
}

std::string MediaInfo::Get(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? std::string() : it->second;
}

double MediaInfo::Number(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end())
    return -1;
  char* end = nullptr;
  const double v = std::strtod(it->second.c_str(), &end);
  return end && *end == '\0' ? v : -1;
}

MediaInfo ReadMediaInfo(const std::string& path) {
  MediaInfo info;
  std::istringstream lines(RunFixtureToolOrThrow({"info", path}));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos)
      info.fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return info;
}

std::string DecodeToWav(const std::string& src, const std::string& dst) {
  return Make(dst, {"decode", src, dst});
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f)
    throw FixtureError("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

} // namespace ardentix::test
