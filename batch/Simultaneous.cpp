#include "batch/Simultaneous.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
// Measured: a 5-second 3840x2160 MPEG-4 to mp4 held 1.6 GiB of private memory,
// most of it pictures queued in the decoder, scaler and encoder.
constexpr int64_t UhdBytes = 1638 * MiB;
constexpr int64_t UhdPixels = int64_t{3840} * 2160;
// The libraries, the buffers of the audio path and an MP3 encoder.
constexpr int64_t AudioOnlyBytes = 64 * MiB;

}  // namespace

int64_t ConversionMemoryBytes(const TSourceFacts& source) {
    int64_t pixels = 0;
    for (const TProbedStream& stream : source.Streams)
        if (stream.type == TProbedStream::Video) pixels = std::max(pixels, int64_t{stream.Width} * stream.Height);
    return std::max(AudioOnlyBytes, pixels * UhdBytes / UhdPixels);
}

int DefaultSimultaneous(const std::vector<TListedFile>& files, int processors, int64_t available_bytes) {
    const int most = std::max(1, processors);
    if (available_bytes < 0) return most;
    // Any files may run side by side: the largest sets the measure for all.
    int64_t each = AudioOnlyBytes;
    for (const TListedFile& file : files) each = std::max(each, ConversionMemoryBytes(file.Source));
    const int64_t fit = available_bytes / 2 / each;
    return static_cast<int>(std::clamp<int64_t>(fit, 1, most));
}

int64_t MemAvailableBytes(const std::string& meminfo) {
    std::istringstream lines(meminfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream fields(line.substr(13));
        int64_t kib = -1;
        std::string unit;
        // The kernel writes kibibytes as "kB".
        if (!(fields >> kib >> unit) || kib < 0 || unit != "kB") return -1;
        return kib * 1024;
    }
    return -1;
}

int64_t AvailableMemoryBytes() {
    std::ifstream file("/proc/meminfo");
    if (!file) return -1;
    std::ostringstream text;
    text << file.rdbuf();
    return MemAvailableBytes(text.str());
}
