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

void DispatchOptionText(TCustomFFmpeg& core, const std::string& text, bool first_pass) {
    for (const TOptionPair& pair : SplitOptionText(text)) {
        if (first_pass && (pair.name == "newvideo" || pair.name == "newaudio" || pair.name == "newsubtitle"))
            continue;
        core.SetOption(pair.name, pair.value);
    }
}
