#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fuzz {

TMemoryFile::TMemoryFile(const char* name) {
    fd_ = ::memfd_create(name, MFD_CLOEXEC);
    if (fd_ < 0) Fail("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

TMemoryFile::~TMemoryFile() {
    if (fd_ >= 0) ::close(fd_);
}

const std::string& TMemoryFile::Hold(const uint8_t* data, size_t size) {
    if (::ftruncate(fd_, 0) != 0) Fail("cannot empty the memory file");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) Fail("cannot fill the memory file");
        done += static_cast<size_t>(n);
    }
    return path_;
}

namespace {

std::string MakeScratchFolder() {
    std::error_code ec;
    const char* base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/ardentix-fuzz-XXXXXX";
    if (!::mkdtemp(templ.data())) Fail("cannot make a scratch folder");
    return templ + "/";
}

}  // namespace

const std::string& ScratchFolder() {
    // Never freed: the exit handler that removes it runs after static destructors.
    static const std::string* folder = [] {
        auto* made = new std::string(MakeScratchFolder());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchFolder(), ec);
        });
        return made;
    }();
    return *folder;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n== broken promise: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz
