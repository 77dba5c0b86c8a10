#pragma once
// printf-style formatting into a std::string, for messages with placeholders.
#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text without leading and trailing blanks and control characters.
std::string TrimText(const std::string& text);
