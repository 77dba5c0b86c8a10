#include "tests/common/MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/common/Fixtures.h"

namespace ardentix::test {

MemoryFile::MemoryFile(const char* name) {
  fd_ = ::memfd_create(name, MFD_CLOEXEC);
  if (fd_ < 0)
    throw FixtureError(std::string("memfd_create: ") + std::strerror(errno));
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0)
    ::close(fd_);
}

const std::string& MemoryFile::Hold(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(fd_, 0) != 0)
    throw FixtureError(std::string("cannot empty the memory file: ") + std::strerror(errno));
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw FixtureError(std::string("cannot fill the memory file: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
  return path_;
}

} // namespace ardentix::test
