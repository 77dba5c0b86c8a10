#include "core/OptionText.h"

#include "core/FFmpeg.h"

std::vector<TOptionPair> SplitOptionText(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;

    std::string body;
    body.reserve(last - first);
    for (size_t i = first; i < last; ++i) {
        if (text[i] == '\r') {
            body += '\n';
            if (i + 1 < last && text[i + 1] == '\n') ++i;
        } else {
            body += text[i];
        }
    }

    std::vector<TOptionPair> pairs;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        const std::string line = body.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            pairs.push_back({line, std::string()});
        else
            pairs.push_back({line.substr(0, eq), line.substr(eq + 1)});
        start = end + 1;
    }
    return pairs;
}

namespace {

bool StreamOption(const std::string& name) {
    return name == "newvideo" || name == "newaudio" || name == "newsubtitle";
}

// Options that append to a list: taken once, in the first pass. A second
// append would map a stream twice or chain a filter twice.
bool ListOption(const std::string& name) {
    static const char* const kNames[] = {"map", "map_meta_data", "metadata", "absf", "vbsf", "sbsf", "vhook"};
    for (const char* n : kNames)
        if (name == n) return true;
    return false;
}

}  // namespace

void DispatchOptionText(TCustomFFmpeg& core, const std::string& text, bool first_pass) {
    for (const TOptionPair& pair : SplitOptionText(text)) {
        if (first_pass ? StreamOption(pair.name) : ListOption(pair.name)) continue;
        core.SetOption(pair.name, pair.value);
    }
}
