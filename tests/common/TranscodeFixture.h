#pragma once
// A transcoder core set up the way the converter application sets one up (input
// opened, "libmp3lame" with channels, rate and bit rate, output opened), run to
// its end with the run's clean-up (which moves the output to its name), and the
// MP3 read back with libmpg123.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "tests/common/AudioCheck.h"
#include "tests/common/Fixtures.h"

namespace transcodetest {

using namespace ardentix::test;

struct TProgress {
    int frame_number;
    int fps;
    int current_ms;
    float quality;
    float bitrate;
    int64_t size;
    int total_ms;
};

class TranscodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        savedLibLevel = avutil.av_log_get_level();
        avutil.av_log_set_level(AV_LOG_QUIET);
        core.ResetOptionState();
        // The core logs from its worker and its encoder's helper thread.
        core.OnLog = [this](TCustomFFmpeg*, int level, const std::string& msg) {
            std::lock_guard<std::mutex> guard(lines_lock);
            lines.push_back(std::to_string(level) + " " + msg);
        };
    }
    void TearDown() override {
        core.FreeFiles();
        avutil.av_log_set_level(savedLibLevel);
    }

    // Opens src and dst with the converter's settings; false (with a test
    // failure) when either does not open.
    // before_output runs between the two (options for the output file).
    bool Open(const std::string& src, const std::string& dst, int channels, int rate, int kbps,
              const std::function<void()>& before_output = {}) {
        if (!core.OpenInputFile(src)) {
            ADD_FAILURE() << "input: " << core.last_error;
            return false;
        }
        if (overwrite) core.SetOption("y", "");
        if (before_output) before_output();
        core.SetCodecName('a', "libmp3lame");
        core.SetChannels(channels);
        core.SetSampleRate(rate);
        if (!core.SetGenericIntOption("ab", kbps * 1000)) {
            ADD_FAILURE() << "ab refused";
            return false;
        }
        if (!core.OpenOutputFile(dst)) {
            ADD_FAILURE() << "output: " << core.last_error;
            return false;
        }
        return true;
    }

    // The transcode and the clean-up the run entry does after it; the error
    // text, or "" when the transcode ended normally.
    std::string Run() {
        std::string error;
        try {
            core.Transcode();
        } catch (const Exception& e) {
            error = e.Message;
        }
        if (error.empty()) {
            try {
                core.PlaceOutputFiles();
            } catch (const Exception& e) {
                error = e.Message;
            }
        }
        core.FreeFiles();
        return error;
    }

    std::string Convert(const std::string& src, const std::string& dst, int channels, int rate, int kbps) {
        if (!Open(src, dst, channels, rate, kbps)) return "not opened";
        return Run();
    }

    bool Logged(const std::string& text) {
        std::lock_guard<std::mutex> guard(lines_lock);
        for (const auto& line : lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    std::string AllLines() {
        std::lock_guard<std::mutex> guard(lines_lock);
        std::string all;
        for (const auto& line : lines) all += line + "\n";
        return all;
    }

    // Tests that convert to one name again and again replace their last file.
    bool overwrite = true;
    TempDir dir;
    TCustomFFmpeg core;
    std::mutex lines_lock;
    std::vector<std::string> lines;
    int savedLibLevel = AV_LOG_INFO;
};

inline bool FileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

inline long FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

// A copy of src in which every `step`-th byte from `from` (a share of the size)
// on is flipped.
inline std::string Corrupt(const std::string& src, const std::string& dst, double from, int step) {
    std::string bytes = ReadFileBytes(src);
    for (size_t i = static_cast<size_t>(static_cast<double>(bytes.size()) * from); i < bytes.size();
         i += static_cast<size_t>(step))
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    std::ofstream(dst, std::ios::binary) << bytes;
    return dst;
}

// One MP3 frame of samples per channel at the rate: 1152 (MPEG-1) or 576.
inline double Mp3FrameSeconds(long rate) { return (rate >= 32000 ? 1152.0 : 576.0) / static_cast<double>(rate); }

}  // namespace transcodetest
