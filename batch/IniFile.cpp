#include "batch/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "binding/Exception.h"

namespace {

// A settings file larger than this is not ours; it reads as empty.
constexpr std::uintmax_t MaxFileSize = 4u << 20;

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\n\v\f";
    const auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const auto close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" gives both, trimmed; comment and other lines give false.
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t.front() == ';') return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::vector<std::string> TIniFile::ReadLines() const {
    std::vector<std::string> lines;
    if (path_.empty()) return lines;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    if (ec || size > MaxFileSize) return lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    bool inSection = false;
    std::string name, k, v;
    for (const std::string& line : ReadLines()) {
        if (SectionName(line, name)) {
            inSection = SameName(name, section);
        } else if (inSection && KeyValue(line, k, v) && SameName(k, key)) {
            return v;
        }
    }
    return def;
}

int TIniFile::ParseInteger(const std::string& text, int def) {
    std::string s = Trim(text);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        // Hexadecimal keeps 32-bit two's complement: 0xFFFFFFFF reads as -1.
        const std::string digits = s.substr(2);
        if (digits.size() > 8) return def;
        unsigned long value = 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return def;
            value = value * 16 + static_cast<unsigned long>(d);
        }
        return static_cast<int>(static_cast<uint32_t>(value));
    }
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size()) return def;
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return def;
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return def;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return def;
    return static_cast<int>(value);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    const std::string s = ReadString(section, key);
    if (s.empty()) return def;
    return ParseInteger(s, def);
}

void TIniFile::WriteStrings(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) const {
    const Exception failure("Unable to write to " + path_);
    if (path_.empty()) throw failure;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file(path_);
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);

    std::vector<std::string> lines = ReadLines();
    std::vector<bool> written(values.size(), false);
    // Where the section ends (the line after its last key or its header).
    long sectionEnd = -1;
    bool inSection = false;
    std::string name, k, v;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (SectionName(lines[i], name)) {
            inSection = SameName(name, section);
            if (inSection) sectionEnd = static_cast<long>(i) + 1;
            continue;
        }
        if (!inSection) continue;
        if (KeyValue(lines[i], k, v)) {
            for (size_t j = 0; j < values.size(); ++j) {
                if (SameName(k, values[j].first)) {
                    lines[i] = values[j].first + "=" + values[j].second;
                    written[j] = true;
                    break;
                }
            }
        }
        if (!Trim(lines[i]).empty()) sectionEnd = static_cast<long>(i) + 1;
    }
    std::vector<std::string> missing;
    for (size_t j = 0; j < values.size(); ++j)
        if (!written[j]) missing.push_back(values[j].first + "=" + values[j].second);
    if (sectionEnd < 0) {
        if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + section + "]");
        sectionEnd = static_cast<long>(lines.size());
    }
    lines.insert(lines.begin() + sectionEnd, missing.begin(), missing.end());

    std::ostringstream text;
    for (const std::string& line : lines) text << line << "\n";
    // Written beside the file and renamed over it, so a failure never leaves half a file.
    const std::string temp = path_ + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw failure;
        out << text.str();
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temp, ec);
            throw failure;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw failure;
    }
}
