#pragma once
// The core's log levels and their counterparts in the media library.
// Core levels: -1 an error that ended the run, 0 error, 1 information,
// 2 debug, 3 everything.
#include <atomic>

// Process-wide threshold (a core level) read by the library log capture:
// library lines above it are dropped. Set by the last SetVerbosity of any core
// and by the engine's LogLevel.
extern std::atomic<int> LogThreshold;

// Core level -> library level: -1 quiet, 0 error, 1 info, 2 verbose,
// 3 debug, 4 and above trace.
int CoreToLibLogLevel(int level);
// Library level -> core level (the inverse, for the log capture): quiet -> -1,
// panic/fatal/error -> 0, warning/info -> 1, verbose -> 2, debug -> 3, trace -> 4.
int LibToCoreLogLevel(int level);
