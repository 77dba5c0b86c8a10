#pragma once
// Reading UTF-8 text that comes from files (tags, names), where any byte may
// turn up: one strict decoder for every place that needs one.
#include <cstddef>
#include <cstdint>
#include <string_view>

// Length (1 to 4) of the well-formed UTF-8 sequence at text[i], with its code
// point in cp; 0 when the bytes there are none (a stray or cut-short sequence,
// an overlong form, a surrogate, a code point past U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& cp);

// True when the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view text);
