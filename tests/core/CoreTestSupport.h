#pragma once
// Helpers shared by the core's test fixtures.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"

namespace coretest {

// The lines the media library logs while a test runs (the process-wide log
// callback), for tests that check the library's own messages.

inline std::mutex LibLinesLock;
inline std::vector<std::string> LibLines;

inline void CollectLibLine(void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_INFO) return;
    char buffer[2048];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    std::lock_guard lock(LibLinesLock);
    LibLines.emplace_back(buffer);
}

// The message of the exception the statement raises, or "(no exception)".
template <typename E, typename F>
std::string MessageOf(F&& statement) {
    try {
        statement();
    } catch (const E& e) {
        return e.Message;
    }
    return "(no exception)";
}

}  // namespace coretest
