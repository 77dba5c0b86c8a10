#pragma once
// Bytes held as a file that never touches the disk: one memory file (memfd) that
// the product opens by its name under /proc/self/fd, as it opens a user's file.
// The fuzz targets feed their inputs through it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ardentix::test {

class MemoryFile {
public:
  explicit MemoryFile(const char* name); // throws FixtureError
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the content with the bytes; the name stays the same. Throws FixtureError.
  const std::string& Hold(const std::uint8_t* data, std::size_t size);
  const std::string& Hold(const std::string& bytes) {
    return Hold(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  const std::string& Path() const { return path_; } // "/proc/self/fd/<n>"

private:
  int fd_ = -1;
  std::string path_;
};

} // namespace ardentix::test
