#pragma once
// A transcoder core with the libraries loaded (system search), its option state
// freshly reset, and its log lines and the library's log lines collected.
#include <gtest/gtest.h>

#include <cstdarg>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "tests/core/CoreTestSupport.h"
#include "core/LogLevel.h"

namespace optiontest {

struct TLogLine {
    int level;
    std::string text;
    bool operator==(const TLogLine&) const = default;
};

using coretest::CollectLibLine;
using coretest::LibLines;
using coretest::LibLinesLock;
using coretest::MessageOf;

class OptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FFmpegLoader().LoadLibs(DefaultLibs)) << FFmpegLoader().LastError();
        core.ResetOptionState();
        ASSERT_NE(core.generic_options.codec_options[0], nullptr);
        {
            std::lock_guard lock(LibLinesLock);
            LibLines.clear();
        }
        avutil.av_log_set_callback(CollectLibLine);
        savedThreshold = LogThreshold;
        savedLibLevel = avutil.av_log_get_level();
    }
    void TearDown() override {
        if (avutil.av_log_set_callback) {
            avutil.av_log_set_callback(avutil.av_log_default_callback);
            avutil.av_log_set_level(savedLibLevel);
        }
        LogThreshold = savedThreshold;
    }

    // Attaches a log receiver to the core.
    void Listen() {
        core.OnLog = [this](TCustomFFmpeg* sender, int level, const std::string& msg) {
            EXPECT_EQ(sender, &core);
            lines.push_back({level, msg});
        };
    }

    std::vector<std::string> LibLinesSoFar() {
        std::lock_guard lock(LibLinesLock);
        return LibLines;
    }

    int64_t CarrierInt(void* carrier, const char* name) {
        int64_t value = -1;
        EXPECT_GE(avutil.av_opt_get_int(carrier, name, 0, &value), 0) << name;
        return value;
    }
    // The library's default bitrate of a fresh codec context.
    int64_t DefaultBitRate() {
        AVCodecContext* c = avcodec.avcodec_alloc_context3(nullptr);
        const int64_t rate = c ? c->bit_rate : -1;
        avcodec.avcodec_free_context(&c);
        return rate;
    }
    void* Video() { return core.generic_options.codec_options[0]; }
    void* Audio() { return core.generic_options.codec_options[1]; }
    void* Format() { return core.generic_options.format_options; }

    TCustomFFmpeg core;
    std::vector<TLogLine> lines;
    int savedThreshold = 1;
    int savedLibLevel = AV_LOG_INFO;
};


}  // namespace optiontest
