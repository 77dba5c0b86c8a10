#pragma once
// What the fuzz targets share besides the memory file of tests/common: a scratch
// folder for outputs and a loud stop when a promise is broken.
#include <string>

namespace fuzz {

// A folder in memory (/dev/shm, else /tmp) removed with its files at exit.
const std::string& ScratchFolder();

// Ends the process with the message: libFuzzer saves the input as a crash.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

}  // namespace fuzz
