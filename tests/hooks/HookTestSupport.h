#pragma once
// What the hook tests share: where the plug-ins are, the library log caught,
// and a small video converted losslessly so that pictures can be compared
// byte for byte.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "tests/common/Fixtures.h"
#include "tests/common/TranscodeFixture.h"
#include "tests/common/VideoCheck.h"

namespace hooktest {

using namespace ardentix::test;

inline std::string SamplePlugin(const std::string& name) { return std::string(ARDENTIX_SAMPLE_HOOKS) + "/" + name + ".so"; }
inline std::string TestPlugin(const std::string& name) { return std::string(ARDENTIX_TEST_HOOKS) + "/" + name + ".so"; }

// Lines the libraries' log receives while it lives.
class TLibraryLog {
public:
    TLibraryLog() {
        Lines().clear();
        avutil.av_log_set_callback(&Catch);
    }
    ~TLibraryLog() { avutil.av_log_set_callback(avutil.av_log_default_callback); }
    std::string Text() const {
        std::lock_guard<std::mutex> guard(Lock());
        std::string all;
        for (const auto& line : Lines()) all += line;
        return all;
    }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static void Catch(void*, int level, const char* format, va_list args) {
        if (level > AV_LOG_ERROR) return;
        char line[1024];
        std::vsnprintf(line, sizeof line, format, args);
        std::lock_guard<std::mutex> guard(Lock());
        Lines().emplace_back(line);
    }
};

// A core with the libraries loaded and its log lines kept, converting video.
class HookCoreTest : public transcodetest::TranscodeTest {
protected:
    // A small RealVideo file without sound: 64x48, 10 pictures a second.
    std::string MakeVideo(const std::string& name, double seconds) {
        return MakeFixture(dir, name, "rm-video",
                           {"--seconds", std::to_string(seconds), "--fps", "10", "--size", "64x48", "--audio", "none"});
    }

    // src to a lossless Matroska file; setup sets hook options before the
    // output is opened. The error text, "" when the run ended normally.
    std::string Convert(const std::string& src, const std::string& dst, const std::function<void()>& setup = {}) {
        std::filesystem::remove(dst);
        core.ResetOptionState();
        if (!core.OpenInputFile(src)) return "input: " + core.last_error;
        core.SetCodecName('v', "ffv1");
        try {
            if (setup) setup();
        } catch (const Exception& e) {
            core.FreeFiles();
            return e.Message;
        }
        if (!core.OpenOutputFile(dst)) {
            core.FreeFiles();
            return "output: " + core.last_error;
        }
        return Run();
    }

    std::vector<DecodedPicture> Pictures(const std::string& path) {
        std::string error;
        std::vector<DecodedPicture> pictures = DecodePictures(path, &error);
        EXPECT_FALSE(pictures.empty()) << path << ": " << error;
        return pictures;
    }
};

// The picture nearest to a time.
inline const DecodedPicture& At(const std::vector<DecodedPicture>& pictures, double seconds) {
    size_t best = 0;
    for (size_t i = 1; i < pictures.size(); ++i)
        if (std::abs(pictures[i].seconds - seconds) < std::abs(pictures[best].seconds - seconds)) best = i;
    return pictures[best];
}

inline bool ChromaFlat(const DecodedPicture& p) {
    for (uint8_t c : p.u)
        if (c != 128) return false;
    for (uint8_t c : p.v)
        if (c != 128) return false;
    return true;
}

inline bool SamePicture(const DecodedPicture& a, const DecodedPicture& b) {
    return a.width == b.width && a.height == b.height && a.y == b.y && a.u == b.u && a.v == b.v;
}

}  // namespace hooktest
