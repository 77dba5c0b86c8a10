#pragma once
// Option text: one "name=value" pair per line, handed to SetOption in text order.
#include <string>
#include <vector>

class TCustomFFmpeg;

struct TOptionPair {
    std::string name;
    std::string value;
    bool operator==(const TOptionPair&) const = default;
};

// Trims the text (characters up to and including blank), makes every line
// break a single LF and cuts each line at its first "=" (a line without one is a
// name with an empty value). Lines themselves are not trimmed.
std::vector<TOptionPair> SplitOptionText(const std::string& text);

// Dispatches the pairs to core.SetOption in text order. The first pass skips
// "newvideo", "newaudio" and "newsubtitle", which need the output file already
// open; the second pass (after the output file was opened) dispatches every
// pair except those that append to a list ("map", "map_meta_data", "metadata",
// "absf", "vbsf", "sbsf", "vhook"), which the first pass took already.
void DispatchOptionText(TCustomFFmpeg& core, const std::string& text, bool first_pass);
