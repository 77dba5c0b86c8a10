#pragma once
// Number conversions of option values. The whole text must convert: no blanks,
// no trailing characters. Failures raise EConvertError with the platform texts
// "'%s' is not a valid integer value" / "'%s' is not a valid floating point value".
#include <cstdint>
#include <optional>
#include <string>

std::optional<int> TryStrToInt(const std::string& text);
std::optional<int64_t> TryStrToInt64(const std::string& text);
// Finite values in float range only: "nan", "inf" and overflowing texts fail.
std::optional<float> TryStrToFloat(const std::string& text);
std::optional<double> TryStrToDouble(const std::string& text);

int StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
float StrToFloat(const std::string& text);

// Option flags: true unless the value is exactly "0".
inline bool StrToFlag(const std::string& text) { return text != "0"; }
