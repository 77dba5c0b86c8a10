#pragma once
// The two things ardentix-convert does: show what files hold, and convert them.
#include <atomic>

#include "engine/DAzaduVED.h"
#include "engine/EventLoop.h"
#include "tools/convert/ConvertOptions.h"

// Exit status: 0 every file read, 1 some file could not be read.
int ShowInfo(TDAzaduVED& engine, const TConvertOptions& options);

// Converts every file; interrupted is set (by a signal) to stop the run.
// Exit status: 0 every file converted, 1 some failed, 130 interrupted.
int Convert(TDAzaduVED& engine, TEventLoopWindowThread& loop, const TConvertOptions& options,
            const std::atomic<bool>& interrupted);
