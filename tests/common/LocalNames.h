#pragma once
// Helpers for local files whose names look like network addresses.
#include <atomic>
#include <string>
#include <thread>

namespace ardentix::test {

// A TCP listener on 127.0.0.1 that counts the connections made to it: the
// witness that a file name was not taken for a network address. Each
// connection is accepted and closed at once, so a reader that did connect
// fails quickly instead of waiting for an answer.
class LoopbackListener {
public:
  LoopbackListener();  // throws std::runtime_error when no socket can be had
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string HostPort() const;
  // Connections seen so far, including any still waiting to be accepted.
  int Connections();

private:
  void Serve();
  int AcceptWaiting();

  int socket_ = -1;
  int port_ = 0;
  int stopPipe_[2] = {-1, -1};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Makes `folder` the working folder for the life of the object, so that tests can
// give relative names ("http://host/a.rm" is the folder "http:", then "host").
class ScopedWorkingDir {
public:
  explicit ScopedWorkingDir(const std::string& folder);
  ~ScopedWorkingDir();
  ScopedWorkingDir(const ScopedWorkingDir&) = delete;
  ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

private:
  std::string previous_;
};

// Moves `file` to the relative name `name` under the working folder, making the
// folders on the way; returns name.
std::string MoveToName(const std::string& file, const std::string& name);

} // namespace ardentix::test
