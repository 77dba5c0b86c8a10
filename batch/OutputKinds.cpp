#include "batch/OutputKinds.h"

namespace {

// MP3 tags are ID3v2.3, which most players read, with an ID3v1 tag at the end
// for the oldest ones. MP4 and Matroska carry H.264 at x264's own default
// constant quality (crf 23) with its default preset. MP4 puts its index first
// so that a player can start before the whole file is there. Text subtitles
// become MP4's timed text or ASS; only Matroska holds bitmap ones.
const std::vector<TOutputKind> Kinds = {
    {"mp3", ".mp3", "", "", "libmp3lame", "", false, false, true, "id3v2_version=3\nwrite_id3v1=1",
     "MP3 audio (the window's record)", "", false, "MP3 audio"},
    {"mp4", ".mp4", "mp4", "libx264", "aac", "", true, false, true, "crf=23\nmovflags=+faststart",
     "H.264 video and AAC audio in MP4", "mov_text", false, "MP4 video (H.264/AAC)"},
    {"mkv", ".mkv", "matroska", "libx264", "aac", "", true, false, true, "crf=23",
     "H.264 video and AAC audio in Matroska", "ass", true},
    {"dvd", ".mpg", "", "", "", "dvd", true, true, false, "", "DVD-Video (MPEG-2, AC-3)", "", false, "DVD (MPEG-2)"},
    {"vcd", ".mpg", "", "", "", "vcd", true, true, false, "", "Video CD (MPEG-1)", "", false, "VCD (MPEG-1)"},
    {"svcd", ".mpg", "", "", "", "svcd", true, true, false, "", "Super Video CD (MPEG-2)", "", false,
     "SVCD (MPEG-2)"},
    {"dv", ".dv", "", "", "", "dv", true, false, false, "", "DV (4:2:0 PAL, 4:1:1 NTSC)", "", false, "DV"},
    {"dv50", ".dv", "", "", "", "dv50", true, false, false, "", "DVCPRO 50 (4:2:2)"},
};

}  // namespace

const std::vector<TOutputKind>& OutputKinds() { return Kinds; }

const TOutputKind* OutputKindNamed(const std::string& name) {
    for (const TOutputKind& kind : Kinds)
        if (name == kind.name) return &kind;
    return nullptr;
}

bool ParseOutputKind(const std::string& text, TOutputChoice& choice, std::string& error) {
    std::string norm;
    std::string name = text;
    for (const char* prefix : {"pal", "ntsc", "film"}) {
        const std::string p = std::string(prefix) + "-";
        if (text.rfind(p, 0) == 0) {
            norm = prefix;
            name = text.substr(p.size());
        }
    }
    if (const TOutputKind* kind = OutputKindNamed(name)) {
        if (!norm.empty() && !kind->target[0]) {
            error = "--to " + text + ": " + kind->name + " takes no pal-, ntsc- or film- prefix";
            return false;
        }
        if (norm == "film" && !kind->film_rate) {
            error = "--to " + text + ": DV has no film rate; use pal-" + name + " or ntsc-" + name;
            return false;
        }
        choice.kind = kind;
        choice.norm = norm;
        return true;
    }
    std::string names;
    for (const TOutputKind& kind : Kinds) names += (names.empty() ? "" : ", ") + std::string(kind.name);
    error = "--to " + text + ": unknown kind (one of " + names + ")";
    return false;
}

std::vector<std::string> OutputKindOptions(const TOutputChoice& choice) {
    std::vector<std::string> lines;
    if (!choice.kind) return lines;
    if (choice.kind->target[0])
        lines.push_back("target=" + (choice.norm.empty() ? std::string() : choice.norm + "-") + choice.kind->target);
    const std::string options = choice.kind->options;
    size_t start = 0;
    while (start < options.size()) {
        size_t end = options.find('\n', start);
        if (end == std::string::npos) end = options.size();
        if (end > start) lines.push_back(options.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
