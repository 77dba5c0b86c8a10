// Fuzz target for the option text splitter and SetOption, and a short
// deterministic run of it under the test suite's sanitizers.
//
// `scripts/fuzz 600 options` builds the same file with clang as the libFuzzer
// target fuzz-options (ARDENTIX_LIBFUZZER defined) and runs it.
// Input: a first byte below the number of option names picks that name and the
// rest is its value; any other first byte makes the whole input an option text,
// dispatched in both passes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/OptionText.h"

namespace {

void QuietLibraryLog(void*, int, const char*, va_list) {}

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = TCustomFFmpeg::OptionNames();
    return names;
}

void Attempt(TCustomFFmpeg& core, auto&& step) {
    try {
        step();
    } catch (const Exception&) {
        // Every refusal is one of ours, with a message.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool loaded = [] {
        if (!FFmpegLoader().LoadLibs(DefaultLibs)) return false;
        avutil.av_log_set_callback(QuietLibraryLog);
        return true;
    }();
    if (!loaded || size == 0) return 0;

    TCustomFFmpeg core;
    core.ResetOptionState();
    size_t logged = 0;
    core.OnLog = [&logged](TCustomFFmpeg*, int, const std::string& msg) { logged += msg.size(); };

    if (data[0] < Names().size()) {
        const std::string value(reinterpret_cast<const char*>(data) + 1, size - 1);
        Attempt(core, [&] { core.SetOption(Names()[data[0]], value); });
        // Once more on the state the first call left.
        Attempt(core, [&] { core.SetOption(Names()[data[0]], value); });
    } else {
        const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
        Attempt(core, [&] { DispatchOptionText(core, text, true); });
        Attempt(core, [&] { DispatchOptionText(core, text, false); });
    }
    core.SetVerbosity(1);
    return 0;
}

#ifndef ARDENTIX_LIBFUZZER
#include <gtest/gtest.h>

#include <random>

#include "core/LogLevel.h"

namespace {

// Values that reach the edges of the handlers, mixed and mutated.
const char* const Seeds[] = {"",        "0",         "-1",        "1",          "2147483647", "-2147483648",
                             "9223372036854775807",  "1e308",     "nan",        "0x10",       "0:1",
                             "0.1:1.0", "16:9",      "4:0",       "321x240",    "vga",        "ntsc",
                             "pal-vcd", "film-dvd",  "ntsc-dv50", "copy",       "libmp3lame", "list",
                             "title=x", "=x",        "%s%n%s%n",  "1,2,3,4",    "20:2",       "19:1e999",
                             "aac_adtstoasc=a", "a|b|c", "2000-01-01 00:00:00Z", "1:30:00.5", "yuv420p",
                             "  x  ",   "\r\n",      "XVID",      "abc",         "255"};

std::string Mutate(std::mt19937& random, std::string text) {
    const int edits = static_cast<int>(random() % 4);
    for (int i = 0; i < edits; ++i) {
        const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 4) {
            case 0: text.insert(at, 1, static_cast<char>(random() % 256)); break;
            case 1: if (at < text.size()) text.erase(at, 1); break;
            case 2: text.insert(at, Seeds[random() % std::size(Seeds)]); break;
            default: text.insert(at, 1, ":,=.-\n\r x0"[random() % 11]); break;
        }
    }
    return text;
}

TEST(OptionFuzz, ShortRunOverEveryName) {
    const int saved = LogThreshold;
    std::mt19937 random(20240607);
    const auto& names = Names();
    for (int round = 0; round < 6000; ++round) {
        std::string input;
        if (round % 5 != 4) {
            input.push_back(static_cast<char>(round % names.size()));
            input += Mutate(random, Seeds[random() % std::size(Seeds)]);
        } else {
            // An option text of a few lines, names from the table or made up.
            input.push_back(static_cast<char>(0xFF));
            const int count = 1 + static_cast<int>(random() % 5);
            for (int i = 0; i < count; ++i) {
                input += random() % 4 ? names[random() % names.size()] : Mutate(random, "x");
                input += "=" + Mutate(random, Seeds[random() % std::size(Seeds)]) + (random() % 2 ? "\r\n" : "\n");
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    avutil.av_log_set_callback(avutil.av_log_default_callback);
    LogThreshold = saved;
}

}  // namespace
#endif
