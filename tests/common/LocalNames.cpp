#include "tests/common/LocalNames.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace ardentix::test {

namespace {
std::mutex acceptLock;
}

LoopbackListener::LoopbackListener() {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0)
    throw std::runtime_error("no socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;  // any free port
  socklen_t len = sizeof addr;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(socket_, 16) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    ::close(socket_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackListener::~LoopbackListener() {
  const char stop = 1;
  (void)!::write(stopPipe_[1], &stop, 1);
  thread_.join();
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
  ::close(socket_);
}

std::string LoopbackListener::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

int LoopbackListener::AcceptWaiting() {
  std::lock_guard<std::mutex> guard(acceptLock);
  int accepted = 0;
  for (;;) {
    const int peer = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
      return accepted;
    ::close(peer);
    ++accepted;
  }
}

void LoopbackListener::Serve() {
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0)
      continue;
    if (fds[1].revents)
      return;
    connections_ += AcceptWaiting();
  }
}

int LoopbackListener::Connections() {
  connections_ += AcceptWaiting();
  return connections_;
}

ScopedWorkingDir::ScopedWorkingDir(const std::string& folder) {
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(folder);
}

ScopedWorkingDir::~ScopedWorkingDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

std::string MoveToName(const std::string& file, const std::string& name) {
  const std::filesystem::path target(name);
  if (target.has_parent_path())
    std::filesystem::create_directories(target.parent_path());
  std::filesystem::rename(file, target);
  return name;
}

} // namespace ardentix::test
