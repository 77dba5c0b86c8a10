#pragma once
// A transcoder core with the libraries loaded and a fresh option state, for the
// input and output file tests; media come from the fixture generator.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/common/Fixtures.h"

namespace filetest {

using namespace ardentix::test;

using coretest::CollectLibLine;
using coretest::LibLines;
using coretest::LibLinesLock;
using coretest::MessageOf;

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        core.ResetOptionState();
        ASSERT_NE(core.generic_options.codec_options[0], nullptr);
        {
            std::lock_guard lock(LibLinesLock);
            LibLines.clear();
        }
        savedLibLevel = avutil.av_log_get_level();
        avutil.av_log_set_level(AV_LOG_INFO);
        avutil.av_log_set_callback(CollectLibLine);
    }
    void TearDown() override {
        core.FreeFiles();
        avutil.av_log_set_callback(avutil.av_log_default_callback);
        avutil.av_log_set_level(savedLibLevel);
    }

    void Listen() {
        core.OnLog = [this](TCustomFFmpeg*, int level, const std::string& msg) {
            lines.push_back(std::to_string(level) + " " + msg);
        };
    }

    std::string LibText() {
        std::lock_guard lock(LibLinesLock);
        std::string all;
        for (const auto& line : LibLines) all += line;
        return all;
    }

    // What the converter application hands over for an MP3 after the input is open.
    void ApplyConverterSettings(int channels, int rate, int bitrate) {
        core.SetCodecName('a', "libmp3lame");
        core.SetChannels(channels);
        core.SetSampleRate(rate);
        ASSERT_TRUE(core.SetGenericIntOption("ab", bitrate));
    }

    AVFormatContext* Input(int i) { return core.input_files[i].get(); }
    AVFormatContext* Output(int i) { return core.output_files[i].get(); }
    AVCodecContext* Encoder(int file, int stream) { return core.output_files[file].streams[stream].encoder.get(); }

    TempDir dir;
    TCustomFFmpeg core;
    std::vector<std::string> lines;
    int savedLibLevel = AV_LOG_INFO;
};


inline bool FileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace filetest
