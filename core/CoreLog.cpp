#include <cstdarg>
#include <cstdio>

#include "core/FFmpeg.h"
#include "core/FormatText.h"

void TCustomFFmpeg::Log(int level, const std::string& msg) {
    if (LogEnabled(level)) OnLog(this, level, msg);
}

void TCustomFFmpeg::LogF(int level, const char* format, ...) {
    if (!LogEnabled(level)) return;
    va_list args;
    va_start(args, format);
    std::string text = VFormatText(format, args);
    va_end(args);
    OnLog(this, level, text);
}
