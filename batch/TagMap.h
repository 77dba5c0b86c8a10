#pragma once
// The tags a converted file carries: the source's tags, under the names the
// mp3 muxer writes as the ID3 frames players show (TIT2, TPE1, TCOP, COMM, ...).
#include <string>
#include <utility>
#include <vector>

using TTags = std::vector<std::pair<std::string, std::string>>;

// The output's tags, one per ID3 name in the mapping's order, from source tags
// whose keys are matched without regard to case (the first of a key wins).
// Empty values are left out; text that is no UTF-8 (RealMedia keeps the bytes
// its writer used, often Windows-1252) is read as Windows-1252.
TTags MapTags(const TTags& source);

// The text as UTF-8: well-formed UTF-8 unchanged, anything else read as Windows-1252.
std::string TagText(const std::string& text);
