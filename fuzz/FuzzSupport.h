#pragma once
// What the fuzz targets share: each input held as a file that never touches the
// disk, a scratch folder for outputs, and a loud stop when a promise is broken.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// One memory file (memfd) for the whole run, reopened by name for each input, so
// the product reads the bytes through the same opening path as a user's file.
class TMemoryFile {
public:
    explicit TMemoryFile(const char* name);
    ~TMemoryFile();
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    // Replaces the content with the bytes; the name stays the same.
    const std::string& Hold(const uint8_t* data, size_t size);
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;  // "/proc/self/fd/<n>"
};

// A folder in memory (/dev/shm, else /tmp) removed with its files at exit.
const std::string& ScratchFolder();

// Ends the process with the message: libFuzzer saves the input as a crash.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

}  // namespace fuzz
