#include "batch/TagMap.h"

#include <cstdint>

namespace {

// One row per output tag: the name the muxer maps to its frame, then the source
// keys that fill it, the preferred one first. RealMedia's "author" becomes the
// artist; left as "author" the muxer writes a TXXX frame that players ignore.
struct TTagRow {
    const char* output;
    const char* sources[3];
};

constexpr TTagRow Rows[] = {
    {"title", {"title"}},
    {"artist", {"artist", "author"}},
    {"album_artist", {"album_artist"}},
    {"album", {"album"}},
    {"composer", {"composer"}},
    {"copyright", {"copyright"}},
    {"comment", {"comment", "description"}},
    {"genre", {"genre"}},
    {"date", {"date", "year"}},
    {"track", {"track"}},
    {"disc", {"disc"}},
    {"publisher", {"publisher"}},
};

bool SameKey(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return i == a.size() && !b[i];
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned char lead = byte(i);
        size_t length;
        uint32_t cp, min;
        if (lead < 0x80) { ++i; continue; }
        if ((lead & 0xe0) == 0xc0) length = 2, min = 0x80, cp = lead & 0x1f;
        else if ((lead & 0xf0) == 0xe0) length = 3, min = 0x800, cp = lead & 0x0f;
        else if ((lead & 0xf8) == 0xf0) length = 4, min = 0x10000, cp = lead & 0x07;
        else return false;
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (byte(i + k) & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        i += length;
    }
    return true;
}

// Windows-1252's 0x80..0x9f; the five holes read as the C1 controls of Latin-1.
constexpr uint16_t Cp1252High[32] = {0x20ac, 0x81,   0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                     0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8d,   0x017d, 0x8f,
                                     0x90,   0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                     0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x9d,   0x017e, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

}  // namespace

std::string TagText(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b >= 0x80 && b < 0xa0 ? Cp1252High[b - 0x80] : b);
    }
    return out;
}

TTags MapTags(const TTags& source) {
    TTags out;
    for (const TTagRow& row : Rows) {
        for (const char* key : row.sources) {
            if (!key) break;
            const std::string* value = nullptr;
            for (const auto& [k, v] : source)
                if (!v.empty() && SameKey(k, key)) {
                    value = &v;
                    break;
                }
            if (!value) continue;
            out.emplace_back(row.output, TagText(*value));
            break;
        }
    }
    return out;
}
