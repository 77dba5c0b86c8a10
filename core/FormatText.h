#pragma once
// printf-style formatting into a std::string, for messages with placeholders.
#include <cstdarg>
#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatText(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The text without leading and trailing blanks and control characters.
std::string TrimText(const std::string& text);
