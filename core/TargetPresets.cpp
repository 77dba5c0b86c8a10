// Target presets: every setting a disc or tape format needs, one row per kind
// and norm, applied in order through the option handlers, so that later
// options can still override them.
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <type_traits>

#include "core/FFmpeg.h"
#include "core/TargetPresets.h"

namespace {

enum TNorm { nmPAL = 0, nmNTSC = 1, nmFILM = 2 };

// A library option of the encoders or the muxer.
struct TLibrarySetting {
    const char* name = nullptr;  // nullptr: an unused place
    const char* value = nullptr;
};

enum class TTargetChannels { Two, AtLeastTwo };

// What a kind sets whatever its norm.
struct TTargetKind {
    const char* video_codec = "";  // "" keeps the one chosen
    const char* audio_codec = "";
    const char* format;
    std::array<TLibrarySetting, 7> library{};  // in the order they are set, after the group of pictures
    int sample_rate;                           // Hz
    TTargetChannels channels;
    float mux_preload = 0;          // seconds; 0 keeps the option's
    const char* aspect = nullptr;   // assumed when none is given; nullptr takes any
};

constexpr TTargetKind Vcd{
    .video_codec = "mpeg1video",
    .audio_codec = "mp2",
    .format = "vcd",
    .library = {{{"b", "1150000"}, {"maxrate", "1150000"}, {"minrate", "1150000"}, {"bufsize", "327680"},
                 {"ab", "224000"}, {"packetsize", "2324"}, {"muxrate", "1411200"}}},
    .sample_rate = 44100,
    .channels = TTargetChannels::Two,
    // The VCD multiplex needs less than the default preload to keep within the Video CD standard.
    .mux_preload = 0.44f,
    .aspect = "4:3",
};

constexpr TTargetKind Svcd{
    .video_codec = "mpeg2video",
    .audio_codec = "mp2",
    .format = "svcd",
    // scan_offset: the public flags no longer know it, it is the MPEG-2 encoder's own option.
    .library = {{{"b", "2040000"}, {"maxrate", "2516000"}, {"minrate", "0"}, {"bufsize", "1835008"},
                 {"scan_offset", "1"}, {"ab", "224000"}, {"packetsize", "2324"}}},
    .sample_rate = 44100,
    .channels = TTargetChannels::AtLeastTwo,
    .aspect = "4:3",
};

constexpr TTargetKind Dvd{
    .video_codec = "mpeg2video",
    .audio_codec = "ac3",
    .format = "dvd",
    .library = {{{"b", "6000000"}, {"maxrate", "9000000"}, {"minrate", "0"}, {"bufsize", "1835008"},
                 {"packetsize", "2048"}, {"muxrate", "10080000"}, {"ab", "448000"}}},
    .sample_rate = 48000,
    .channels = TTargetChannels::AtLeastTwo,
    .aspect = "16:9",
};

constexpr TTargetKind Dv{.format = "dv", .sample_rate = 48000, .channels = TTargetChannels::Two};

// The picture of a kind in one norm. Film is NTSC's picture at 24 fps.
struct TTargetRow {
    const char* kind;
    TNorm norm;
    const char* size;
    const char* pix_fmt = nullptr;  // nullptr: the encoder's
    const char* rate;
    const char* gop = nullptr;      // frames in a group of pictures; nullptr: the encoder's
    const TTargetKind* settings;
    bool pulldown = false;          // film coded as 3:2 pulldown: DVD-Video has no 24000/1001
};

constexpr TTargetRow TargetRows[] = {
    {.kind = "vcd", .norm = nmPAL, .size = "352x288", .rate = "25", .gop = "15", .settings = &Vcd},
    {.kind = "vcd", .norm = nmNTSC, .size = "352x240", .rate = "30000/1001", .gop = "18", .settings = &Vcd},
    {.kind = "vcd", .norm = nmFILM, .size = "352x240", .rate = "24000/1001", .gop = "18", .settings = &Vcd},
    {.kind = "svcd", .norm = nmPAL, .size = "480x576", .rate = "25", .gop = "15", .settings = &Svcd},
    {.kind = "svcd", .norm = nmNTSC, .size = "480x480", .rate = "30000/1001", .gop = "18", .settings = &Svcd},
    {.kind = "svcd", .norm = nmFILM, .size = "480x480", .rate = "24000/1001", .gop = "18", .settings = &Svcd},
    {.kind = "dvd", .norm = nmPAL, .size = "720x576", .rate = "25", .gop = "15", .settings = &Dvd},
    {.kind = "dvd", .norm = nmNTSC, .size = "720x480", .rate = "30000/1001", .gop = "18", .settings = &Dvd},
    {.kind = "dvd", .norm = nmFILM, .size = "720x480", .rate = "24000/1001", .gop = "18", .settings = &Dvd,
     .pulldown = true},
    {.kind = "dv", .norm = nmPAL, .size = "720x576", .pix_fmt = "yuv420p", .rate = "25", .settings = &Dv},
    {.kind = "dv", .norm = nmNTSC, .size = "720x480", .pix_fmt = "yuv411p", .rate = "30000/1001", .settings = &Dv},
    {.kind = "dv", .norm = nmFILM, .size = "720x480", .pix_fmt = "yuv411p", .rate = "24000/1001", .settings = &Dv},
    {.kind = "dv50", .norm = nmPAL, .size = "720x576", .pix_fmt = "yuv422p", .rate = "25", .settings = &Dv},
    {.kind = "dv50", .norm = nmNTSC, .size = "720x480", .pix_fmt = "yuv422p", .rate = "30000/1001", .settings = &Dv},
    {.kind = "dv50", .norm = nmFILM, .size = "720x480", .pix_fmt = "yuv422p", .rate = "24000/1001", .settings = &Dv},
};

// Frames per 1000 seconds, rounded half to even; 0 for an unusable rate.
long RateTimes1000(int num, int den) {
    if (den == 0) return 0;
    return std::lrint(static_cast<double>(num) * 1000.0 / den);
}

// The container of an input table entry (a record or a bare context).
template <typename T>
const AVFormatContext* ContextOf(const T& entry) {
    if constexpr (std::is_pointer_v<T>)
        return entry;
    else
        return entry.get();
}

std::optional<TNorm> NormOfRate(int num, int den) {
    const long r = RateTimes1000(num, den);
    if (r == 25000) return nmPAL;
    if (r == 29970 || r == 23976) return nmNTSC;
    return std::nullopt;
}

std::optional<TNorm> NormNamed(const std::string& name) {
    if (name == "pal") return nmPAL;
    if (name == "ntsc") return nmNTSC;
    if (name == "film") return nmFILM;
    return std::nullopt;
}

// The norm of the frame rate asked for, else of the first video stream of the
// opened inputs that has one.
std::optional<TNorm> NormOfRates(const TCustomFFmpeg& core) {
    if (auto norm = NormOfRate(core.frame_rate.num, core.frame_rate.den)) return norm;
    for (int f = 0; f < core.input_file_count; ++f) {
        const AVFormatContext* ic = ContextOf(core.input_files[f]);
        if (!ic) continue;
        for (unsigned s = 0; s < ic->nb_streams; ++s) {
            const AVStream* st = ic->streams[s];
            if (!st || !st->codecpar || st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            // The stream's frame rate stands for its decoder's time base.
            AVRational rate = st->r_frame_rate;
            if (rate.num <= 0 || rate.den <= 0) rate = st->avg_frame_rate;
            if (auto norm = NormOfRate(rate.num, rate.den)) return norm;
        }
    }
    return std::nullopt;
}

// The norm named, else detected from the frame rates (with a note), else the fallback's.
TNorm TargetNorm(TCustomFFmpeg& core, const std::string& norm_name, const std::string& fallback_norm) {
    if (auto named = NormNamed(norm_name)) return *named;
    if (core.frame_rate.den == 0) throw FFmpegException("frame_rate is invalid.");
    const TNorm norm = NormOfRates(core).value_or(NormNamed(fallback_norm).value_or(nmPAL));
    if (core.verbosity > 0) core.LogF(1, "Assuming %s for target.", norm == nmPAL ? "PAL" : "NTSC");
    return norm;
}

// Disc pictures are 4:3 or 16:9 and nothing else: an aspect taken from the
// input (or given) becomes the nearer of the two, none the kind's own.
void AssumeAspect(TCustomFFmpeg& core, const char* aspect) {
    if (core.frame_aspect != 0) {
        const float a = core.frame_aspect;
        const bool wide = std::fabs(a - 16.0f / 9.0f) < std::fabs(a - 4.0f / 3.0f);
        if (std::fabs(a - (wide ? 16.0f / 9.0f : 4.0f / 3.0f)) < 1e-4f) return;
        aspect = wide ? "16:9" : "4:3";
    }
    core.SetAspect(aspect);
    core.LogF(1, "Assuming %s for aspect ratio", aspect);
}

const TTargetRow* TargetRowOf(const std::string& kind, TNorm norm) {
    for (const TTargetRow& row : TargetRows)
        if (kind == row.kind && norm == row.norm) return &row;
    return nullptr;
}

}  // namespace

std::optional<TTargetPicture> TargetPicture(const std::string& kind, const std::string& norm, int input_rate_num,
                                            int input_rate_den) {
    const TNorm n = NormNamed(norm).value_or(NormOfRate(input_rate_num, input_rate_den).value_or(nmNTSC));
    const TTargetRow* row = TargetRowOf(kind, n);
    if (!row) return std::nullopt;
    // The rows' own "WxH" and "N" or "N/D", read without the libraries: a plan
    // is made before they need to be loaded.
    TTargetPicture picture;
    if (std::sscanf(row->size, "%dx%d", &picture.width, &picture.height) != 2 ||
        std::sscanf(row->rate, "%d/%d", &picture.rate_num, &picture.rate_den) < 1)
        return std::nullopt;
    return picture;
}

void TCustomFFmpeg::SetTarget(const std::string& kind, const std::string& norm_name,
                              const std::string& fallback_norm) {
    const TTargetRow* row = TargetRowOf(kind, TargetNorm(*this, norm_name, fallback_norm));
    if (!row) throw FFmpegException("Unknown target type");
    const TTargetKind& k = *row->settings;
    SetCodecName('v', k.video_codec);
    SetCodecName('a', k.audio_codec);
    SetOutputFormat(k.format);
    SetFrameSize(row->size);
    if (row->pix_fmt) SetPixelFormat(row->pix_fmt);
    SetFrameRate(row->rate);
    if (row->gop) SetGenericOption("g", row->gop);
    for (const TLibrarySetting& setting : k.library)
        if (setting.name) SetGenericOption(setting.name, setting.value);
    audio_sample_rate = k.sample_rate;
    if (k.channels == TTargetChannels::Two || audio_channels == 1) audio_channels = 2;
    if (k.mux_preload > 0) mux_preload = k.mux_preload;
    if (k.aspect) AssumeAspect(*this, k.aspect);
    soft_pulldown = row->pulldown;
}
