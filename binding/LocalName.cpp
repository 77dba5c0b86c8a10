#include "binding/LocalName.h"

#include "binding/FFmpegLoader.h"

namespace {

constexpr const char* Prefix = "file:";
constexpr size_t PrefixLength = 5;

}  // namespace

// The file protocol drops exactly one leading "file:", so a name that starts
// with one itself keeps it.
std::string LocalFileUrl(const std::string& name) { return Prefix + name; }

std::string LocalFileName(const std::string& url) {
    return url.compare(0, PrefixLength, Prefix) == 0 ? url.substr(PrefixLength) : url;
}

void AllowOnlyLocalFiles(AVDictionary** options) {
    avutil.av_dict_set(options, "protocol_whitelist", LocalProtocols, 0);
}
