#include "hooks/PreviewWindow.h"

#include <climits>
#include <cstdio>

std::string PreviewTimeText(int64_t pts) {
    if (pts == INT64_MIN) return "N/A";
    // Integer division rounds toward zero, so a time before the start shows
    // each part with its own sign.
    const int64_t s = pts / 1000000;
    const int64_t hours = s / 60 / 60;
    const int64_t minutes = s / 60 % 60;
    const int64_t seconds = s % 60;
    const int64_t ms = pts % 1000000 * 1000 / 1000000;
    char text[96];
    std::snprintf(text, sizeof text, "%.2lld:%.2lld:%.2lld.%.3lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds), static_cast<long long>(ms));
    return text;
}
