#include "core/Conversions.h"

#include <charconv>
#include <cmath>

#include "binding/Exception.h"
#include "core/FormatText.h"

namespace {

// from_chars takes no leading "+"; a sign is accepted once, before a digit or point.
std::string_view SkipPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    return text;
}

template <typename T>
std::optional<T> TryInteger(const std::string& text) {
    const std::string_view view = SkipPlus(text);
    T value{};
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value, 10);
    if (view.empty() || error != std::errc() || end != view.data() + view.size()) return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> TryReal(const std::string& text) {
    const std::string_view view = SkipPlus(text);
    T value{};
    const auto [end, error] =
        std::from_chars(view.data(), view.data() + view.size(), value, std::chars_format::general);
    if (view.empty() || error != std::errc() || end != view.data() + view.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

[[noreturn]] void NotInteger(const std::string& text) {
    throw EConvertError(FormatText("'%s' is not a valid integer value", text.c_str()));
}

}  // namespace

std::optional<int> TryStrToInt(const std::string& text) { return TryInteger<int>(text); }
std::optional<int64_t> TryStrToInt64(const std::string& text) { return TryInteger<int64_t>(text); }
std::optional<float> TryStrToFloat(const std::string& text) { return TryReal<float>(text); }
std::optional<double> TryStrToDouble(const std::string& text) { return TryReal<double>(text); }

int StrToInt(const std::string& text) {
    if (auto value = TryStrToInt(text)) return *value;
    NotInteger(text);
}

int64_t StrToInt64(const std::string& text) {
    if (auto value = TryStrToInt64(text)) return *value;
    NotInteger(text);
}

float StrToFloat(const std::string& text) {
    if (auto value = TryStrToFloat(text)) return *value;
    throw EConvertError(FormatText("'%s' is not a valid floating point value", text.c_str()));
}
