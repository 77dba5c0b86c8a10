#include "core/LogLevel.h"

extern "C" {
#include <libavutil/log.h>
}

std::atomic<int> LogThreshold{1};

int CoreToLibLogLevel(int level) {
    if (level < 0) return AV_LOG_QUIET;
    switch (level) {
        case 0: return AV_LOG_ERROR;
        case 1: return AV_LOG_INFO;
        case 2: return AV_LOG_VERBOSE;
        case 3: return AV_LOG_DEBUG;
        default: return AV_LOG_TRACE;
    }
}

int LibToCoreLogLevel(int level) {
    if (level < AV_LOG_PANIC) return -1;
    if (level <= AV_LOG_ERROR) return 0;
    if (level <= AV_LOG_INFO) return 1;
    if (level <= AV_LOG_VERBOSE) return 2;
    if (level <= AV_LOG_DEBUG) return 3;
    return 4;
}
