#include "tools/convert/TerminalText.h"

#include <cstdint>
#include <cstdio>

#include "binding/Utf8.h"

namespace {

std::string ByteEscape(unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    return text;
}

// C0 and C1 controls, DEL, and the line, paragraph and direction marks that
// change how the text around them is laid out.
bool Unsafe(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x200e && cp <= 0x200f) || (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string TerminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            out += ByteEscape(static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (Unsafe(cp)) {
            if (cp < 0x80) {
                out += ByteEscape(static_cast<unsigned char>(cp));
            } else {
                char escape[12];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
                out += escape;
            }
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

std::string TerminalLines(const std::string& text) {
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start && text[stop - 1] == '\r' && end != std::string::npos) --stop;
        out += TerminalText(text.substr(start, stop - start));
        if (end == std::string::npos) return out;
        out += '\n';
        start = end + 1;
    }
}
