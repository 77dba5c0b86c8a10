#include "batch/ReportFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// Bytes of the UTF-8 character starting at text[i], or 0 when none starts there
// (overlong forms, surrogates and values past U+10FFFF are no characters).
size_t CharacterLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t length;
    unsigned low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

bool ValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string Hex(unsigned value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<size_t>(digits), '0');
    for (int d = digits - 1; d >= 0; --d, value >>= 4) text[static_cast<size_t>(d)] = kDigits[value & 0xF];
    return text;
}

// A JSON string, quotes included.
std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = CharacterLength(text, i);
        if (length == 0) json += "\\\\x" + Hex(c, 2);
        else if (c == '"' || c == '\\') json += std::string("\\") + static_cast<char>(c);
        else if (c < 0x20) json += "\\u" + Hex(c, 4);
        else json.append(text, i, length);
        i += length ? length : 1;
    }
    return json + "\"";
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = 0;
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

// "name": "text", and "name_bytes": "base64" after it when the text is not UTF-8.
std::string NameFields(const char* name, const std::string& text) {
    std::string fields = "\"" + std::string(name) + "\":" + JsonString(text);
    if (!ValidUtf8(text)) fields += ",\"" + std::string(name) + "_bytes\":\"" + Base64(text) + "\"";
    return fields;
}

std::string Seconds(int64_t ms) {
    if (ms < 0) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace

std::string ReportLine(const TFileRecord& r) {
    const std::string reason = ReasonName(r.Reason);
    return "{" + NameFields("input", r.Input) + "," +
           (r.Output.empty() ? std::string("\"output\":null") : NameFields("output", r.Output)) +
           ",\"outcome\":\"" + OutcomeName(r.Outcome) +
           "\",\"reason\":" + (reason.empty() ? std::string("null") : "\"" + reason + "\"") +
           ",\"message\":" + JsonString(r.Text) + ",\"input_seconds\":" + Seconds(r.ExpectedMs) +
           ",\"output_seconds\":" + Seconds(r.ConvertedMs) + ",\"elapsed_seconds\":" + Seconds(r.ElapsedMs) + "}\n";
}

TReportFile::~TReportFile() {
    if (file_) std::fclose(file_);
}

bool TReportFile::Open(const std::string& path, std::string& why) {
    file_ = std::fopen(path.c_str(), "a+b");
    if (!file_) {
        why = std::strerror(errno);
        return false;
    }
    torn_ = std::fseek(file_, -1, SEEK_END) == 0 && std::fgetc(file_) != '\n';
    std::fseek(file_, 0, SEEK_END);  // from reading to writing
    return true;
}

bool TReportFile::Write(const TFileRecord& record, std::string& why) {
    const std::string line = (torn_ ? "\n" : "") + ReportLine(record);
    if (std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0) {
        torn_ = false;
        return true;
    }
    why = std::strerror(errno);
    return false;
}
