#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fuzz {

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
