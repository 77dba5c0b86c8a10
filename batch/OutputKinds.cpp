#include "batch/OutputKinds.h"

namespace {

// MP3 tags are ID3v2.3, which most players read, with an ID3v1 tag at the end
// for the oldest ones. MP4 and Matroska carry H.264 at x264's own default
// constant quality (crf 23) with its default preset. MP4 puts its index first
// so that a player can start before the whole file is there. Text subtitles
// become MP4's timed text or ASS; only Matroska holds bitmap ones.
//
// The tag recording an output's input: a tag of our own name where the
// container holds any name (ID3v2's TXXX, Vorbis comments, Matroska tags);
// MP4's iTunes atoms hold only known names, of which "keywords" is one no
// source tag fills and players hardly show. Matroska is written without its
// checksums, so the record's state can be set in place at the end. WAV holds
// only INFO's known names, and the disc and tape kinds hold none: a sidecar.
constexpr const char* OwnTag = "ARDENTIX_SOURCE";
constexpr const char* Mp4Tag = "keywords";

const std::vector<TOutputKind> Kinds = {
    {.name = "mp3", .extension = ".mp3", .audio_codec = "libmp3lame", .encoder = TAudioEncoder::Mp3,
     .audio_settings = true, .options = "id3v2_version=3\nwrite_id3v1=1",
     .description = "MP3 audio (the window's record)", .window_name = "MP3 audio", .source_tag = OwnTag},
    // The audio kinds carry the source's tags in their own form: MP4 atoms,
    // Vorbis comments (Opus, Vorbis, FLAC), WAV's INFO chunk.
    {.name = "m4a", .extension = ".m4a", .format = "ipod", .audio_codec = "aac", .encoder = TAudioEncoder::Aac,
     .audio_settings = true, .options = "movflags=+faststart", .description = "AAC audio in MP4",
     .window_name = "M4A audio (AAC)", .source_tag = Mp4Tag},
    {.name = "opus", .extension = ".opus", .format = "opus", .audio_codec = "libopus", .encoder = TAudioEncoder::Opus,
     .audio_settings = true, .description = "Opus audio in Ogg", .window_name = "Opus audio",
     .source_tag = OwnTag},
    {.name = "ogg", .extension = ".ogg", .format = "ogg", .audio_codec = "libvorbis", .encoder = TAudioEncoder::Vorbis,
     .audio_settings = true, .description = "Vorbis audio in Ogg, by --quality", .window_name = "Ogg Vorbis audio",
     .source_tag = OwnTag},
    {.name = "flac", .extension = ".flac", .format = "flac", .audio_codec = "flac", .encoder = TAudioEncoder::Flac,
     .audio_settings = true, .description = "FLAC audio, lossless, by --compression",
     .window_name = "FLAC audio (lossless)", .source_tag = OwnTag},
    {.name = "wav", .extension = ".wav", .format = "wav", .audio_codec = "pcm_s16le", .encoder = TAudioEncoder::Pcm,
     .audio_settings = true, .description = "WAV audio, 16-bit PCM", .window_name = "WAV audio (uncompressed)"},
    {.name = "mp4", .extension = ".mp4", .format = "mp4", .video_codec = "libx264", .audio_codec = "aac",
     .encoder = TAudioEncoder::Aac, .needs_video = true, .audio_settings = true, .size_limit = true,
     .audio_tracks = true, .options = "crf=23\nmovflags=+faststart",
     .description = "H.264 video and AAC audio in MP4", .text_subtitles = "mov_text",
     .window_name = "MP4 video (H.264/AAC)", .source_tag = Mp4Tag},
    {.name = "mkv", .extension = ".mkv", .format = "matroska", .video_codec = "libx264", .audio_codec = "aac",
     .encoder = TAudioEncoder::Aac, .needs_video = true, .audio_settings = true, .size_limit = true,
     .audio_tracks = true, .options = "crf=23\nwrite_crc32=0",
     .description = "H.264 video and AAC audio in Matroska", .text_subtitles = "ass", .bitmap_subtitles = true,
     .window_name = "MKV video (H.264/AAC)", .source_tag = OwnTag},
    {.name = "dvd", .extension = ".mpg", .target = "dvd", .needs_video = true, .film_rate = true,
     .description = "DVD-Video (MPEG-2, AC-3)", .window_name = "DVD (MPEG-2)"},
    {.name = "vcd", .extension = ".mpg", .target = "vcd", .needs_video = true, .film_rate = true,
     .description = "Video CD (MPEG-1)", .window_name = "VCD (MPEG-1)"},
    {.name = "svcd", .extension = ".mpg", .target = "svcd", .needs_video = true, .film_rate = true,
     .description = "Super Video CD (MPEG-2)", .window_name = "SVCD (MPEG-2)"},
    {.name = "dv", .extension = ".dv", .target = "dv", .needs_video = true,
     .description = "DV (4:2:0 PAL, 4:1:1 NTSC)", .window_name = "DV"},
    {.name = "dv50", .extension = ".dv", .target = "dv50", .needs_video = true, .description = "DVCPRO 50 (4:2:2)",
     .window_name = "DVCPRO 50 (4:2:2)"},
};

}  // namespace

const std::vector<TOutputKind>& OutputKinds() { return Kinds; }

const TOutputKind* OutputKindNamed(const std::string& name) {
    for (const TOutputKind& kind : Kinds)
        if (name == kind.name) return &kind;
    return nullptr;
}

bool CarriesPictures(const TOutputKind& kind) { return kind.video_codec[0] || kind.target[0]; }

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
