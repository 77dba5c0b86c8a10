#include "binding/LocalName.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "binding/FFmpegLoader.h"

namespace {

constexpr const char* Prefix = "file:";
constexpr size_t PrefixLength = 5;

}  // namespace

// The file protocol drops exactly one leading "file:", so a name that starts
// with one itself keeps it.
std::string LocalFileUrl(const std::string& name) { return Prefix + name; }

std::string LocalFileOpening(const std::string& name) {
    if (const char* log = std::getenv("ARDENTIX_OPENINGS"); log && *log) {
        const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const std::string line = name + "\n";
            // One write with O_APPEND: lines of several threads never mix.
            [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    return LocalFileUrl(name);
}

std::string LocalFileName(const std::string& url) {
    return url.compare(0, PrefixLength, Prefix) == 0 ? url.substr(PrefixLength) : url;
}

void AllowOnlyLocalFiles(AVDictionary** options) {
    avutil.av_dict_set(options, "protocol_whitelist", LocalProtocols, 0);
}
