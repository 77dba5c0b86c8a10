// Target presets: every setting a disc or tape format needs, applied in order
// through the option handlers, so that later options can still override them.
#include <cmath>
#include <type_traits>

#include "core/FFmpeg.h"

namespace {

enum TNorm { nmPAL = 0, nmNTSC = 1, nmFILM = 2 };

const char* const NormFrameRates[3] = {"25", "30000/1001", "24000/1001"};

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

bool NormOfRate(long r, TNorm& norm) {
    if (r == 25000) {
        norm = nmPAL;
        return true;
    }
    if (r == 29970 || r == 23976) {
        norm = nmNTSC;
        return true;
    }
    return false;
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& kind, const std::string& norm_name,
                              const std::string& fallback_norm) {
    TNorm norm;
    if (norm_name == "pal") {
        norm = nmPAL;
    } else if (norm_name == "ntsc") {
        norm = nmNTSC;
    } else if (norm_name == "film") {
        norm = nmFILM;
    } else {
        if (frame_rate.den == 0) throw FFmpegException("frame_rate is invalid.");
        bool found = NormOfRate(RateTimes1000(frame_rate.num, frame_rate.den), norm);
        for (int f = 0; !found && f < input_file_count; ++f) {
            const AVFormatContext* ic = ContextOf(input_files[f]);
            if (!ic) continue;
            for (unsigned s = 0; !found && s < ic->nb_streams; ++s) {
                const AVStream* st = ic->streams[s];
                if (!st || !st->codecpar || st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
                // The stream's frame rate stands for its decoder's time base.
                AVRational rate = st->r_frame_rate;
                if (rate.num <= 0 || rate.den <= 0) rate = st->avg_frame_rate;
                found = NormOfRate(RateTimes1000(rate.num, rate.den), norm);
            }
        }
        if (!found) norm = fallback_norm == "film" ? nmFILM : fallback_norm == "ntsc" ? nmNTSC : nmPAL;
        if (verbosity > 0) LogF(1, "Assuming %s for target.", norm == nmPAL ? "PAL" : "NTSC");
    }

    const bool pal = norm == nmPAL;
    const char* rate = NormFrameRates[norm];
    const char* gop = pal ? "15" : "18";
    // Disc pictures are 4:3 or 16:9 and nothing else: an aspect taken from the
    // input (or given) becomes the nearer of the two, none becomes the kind's own.
    // Disc pictures are 4:3 or 16:9 and nothing else: an aspect taken from the
    // input (or given) becomes the nearer of the two, none the kind's own.
    const auto assume_aspect = [this](const char* aspect) {
        if (frame_aspect != 0) {
            const bool wide = std::fabs(frame_aspect - 16.0f / 9.0f) < std::fabs(frame_aspect - 4.0f / 3.0f);
            if (std::fabs(frame_aspect - (wide ? 16.0f / 9.0f : 4.0f / 3.0f)) < 1e-4f) return;
            aspect = wide ? "16:9" : "4:3";
        }
        SetAspect(aspect);
        LogF(1, "Assuming %s for aspect ratio", aspect);
    };
    const auto channels_at_least_two = [this] {
        if (audio_channels == 1) audio_channels = 2;
    };

    if (kind == "vcd") {
        SetCodecName('v', "mpeg1video");
        SetCodecName('a', "mp2");
        SetOutputFormat("vcd");
        SetFrameSize(pal ? "352x288" : "352x240");
        SetFrameRate(rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");
        SetGenericOption("ab", "224000");
        audio_sample_rate = 44100;
        audio_channels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");
        // The VCD multiplex needs less than the default preload to stay in spec.
        mux_preload = 0.44f;
        assume_aspect("4:3");
    } else if (kind == "svcd") {
        SetCodecName('v', "mpeg2video");
        SetCodecName('a', "mp2");
        SetOutputFormat("svcd");
        SetFrameSize(pal ? "480x576" : "480x480");
        SetFrameRate(rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        // The public flags no longer know it: the MPEG-2 encoder's own option.
        SetGenericOption("scan_offset", "1");
        SetGenericOption("ab", "224000");
        audio_sample_rate = 44100;
        SetGenericOption("packetsize", "2324");
        channels_at_least_two();
        assume_aspect("4:3");
    } else if (kind == "dvd") {
        SetCodecName('v', "mpeg2video");
        SetCodecName('a', "ac3");
        SetOutputFormat("dvd");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetFrameRate(rate);
        SetGenericOption("g", gop);
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        SetGenericOption("ab", "448000");
        audio_sample_rate = 48000;
        channels_at_least_two();
        assume_aspect("16:9");
    } else if (kind == "dv" || kind == "dv50") {
        SetOutputFormat("dv");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetPixelFormat(kind == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetFrameRate(rate);
        audio_sample_rate = 48000;
        audio_channels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
}
