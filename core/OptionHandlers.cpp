// The value handlers of the options: each parses and checks its value and
// stores the result in the option state, or raises with the text the user sees.
// Fields set before a failing check keep their new values.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cstring>
#include <cmath>
#include <ctime>
#include <unistd.h>

#include "core/Conversions.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

// Numbers inside maps and scales: as strtol reads them (base from the text),
// each ending at the first character that cannot belong to it.
int ReadInt(const char*& p) {
    char* end = nullptr;
    const long value = myutil.strtol(p, &end, 0);
    p = end;
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// A decimal number as strtod reads it, but always with "." as the decimal
// separator whatever the process locale is. No number: 0 and p unchanged.
double ReadDouble(const char*& p) {
    const char* q = p;
    while (*q == ' ' || (*q >= '\t' && *q <= '\r')) ++q;
    if (*q == '+' && q[1] != '-' && q[1] != '+') ++q;
    double value = 0;
    const auto [end, error] = std::from_chars(q, q + std::strlen(q), value, std::chars_format::general);
    if (end == q) return 0;
    p = end;
    return error == std::errc::result_out_of_range ? HUGE_VAL : value;
}

// Exactly one character after a number is its separator, whatever it is.
void SkipSeparator(const char*& p) {
    if (*p) ++p;
}

// The folder of the running program, with a trailing separator.
std::string ProgramFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return "";
    const std::string exe(path, static_cast<size_t>(length));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "" : exe.substr(0, slash + 1);
}

}  // namespace

// ---- formats ----

namespace {
// "pgmyuv" is the image2 muxer/demuxer with the pgmyuv codec.
std::string TakePgmyuv(TCustomFFmpeg& core, const std::string& name) {
    if (name != "pgmyuv") return name;
    core.image2_forced = 1;
    core.Log(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}
}  // namespace

void TCustomFFmpeg::SetFormat(const std::string& name) {
    if (name.empty()) return;
    const std::string format = TakePgmyuv(*this, name);
    forced_input_format = avformat.av_find_input_format(format.c_str());
    forced_output_format = avformat.av_guess_format(format.c_str(), nullptr, nullptr);
    if (!forced_input_format && !forced_output_format)
        throw FFmpegException(FormatText("Unknown input or output format: %s", format.c_str()));
}

void TCustomFFmpeg::SetInputFormat(const std::string& name) {
    if (name.empty()) return;
    const std::string format = TakePgmyuv(*this, name);
    forced_input_format = avformat.av_find_input_format(format.c_str());
    if (!forced_input_format) throw FFmpegException(FormatText("Unknown input format: %s", format.c_str()));
}

void TCustomFFmpeg::SetOutputFormat(const std::string& name) {
    if (name.empty()) return;
    const std::string format = TakePgmyuv(*this, name);
    forced_output_format = avformat.av_guess_format(format.c_str(), nullptr, nullptr);
    if (!forced_output_format) throw FFmpegException(FormatText("Unknown output format: %s", format.c_str()));
}

// ---- picture ----

void TCustomFFmpeg::SetFrameRate(const std::string& text) {
    if (text.empty()) return;
    if (avutil.av_parse_video_rate(&frame_rate, text.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
}

void TCustomFFmpeg::SetFrameSize(const std::string& text) {
    if (text.empty()) return;
    if (avutil.av_parse_video_size(&frame_width, &frame_height, text.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    if (frame_width % 2 != 0 || frame_height % 2 != 0)
        throw FFmpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::SetAspect(const std::string& text) {
    if (text.empty()) return;
    double ratio = 0;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const int x = TryStrToInt(text.substr(0, colon)).value_or(0);
        const int y = TryStrToInt(text.substr(colon + 1)).value_or(0);
        if (y > 0) ratio = static_cast<double>(x) / y;
    } else {
        ratio = TryStrToDouble(text).value_or(0);
    }
    // The ratio is kept as a float: one that does not fit is as unusable as 0.
    const float aspect = std::fabs(ratio) <= FLT_MAX ? static_cast<float>(ratio) : 0.0f;
    if (aspect == 0) throw FFmpegException("Incorrect aspect ratio specification.");
    frame_aspect = aspect;
}

void TCustomFFmpeg::SetPixelFormat(const std::string& text) {
    if (text != "list") {
        frame_pix_fmt = avutil.av_get_pix_fmt(text.c_str());
        return;
    }
    if (!OnLog) return;
    // The header line (format -1), then every pixel format the library knows.
    char line[128];
    for (int i = -1; i < AV_PIX_FMT_NB; ++i) {
        line[0] = 0;
        avutil.av_get_pix_fmt_string(line, sizeof(line), static_cast<AVPixelFormat>(i));
        Log(1, TrimText(line));
    }
}

void TCustomFFmpeg::SetSampleFormat(const std::string& text) {
    if (text != "list") {
        audio_sample_fmt = avutil.av_get_sample_fmt(text.c_str());
        return;
    }
    if (!OnLog) return;
    char line[128];
    for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i) {
        line[0] = 0;
        avutil.av_get_sample_fmt_string(line, sizeof(line), static_cast<AVSampleFormat>(i));
        Log(1, TrimText(line));
    }
}

namespace {
// A band cut from one side of the picture (its row checks it): the picture's
// length on that side shrinks by it.
void CutBand(TCustomFFmpeg& core, const char* option, int v, int& band, int& length) {
    if (!core.OptionTakes(option, v)) return;
    band = v;
    length -= v;
}
}  // namespace

void TCustomFFmpeg::SetCropTop(int v) { CutBand(*this, "croptop", v, crop_top, frame_height); }
void TCustomFFmpeg::SetCropBottom(int v) { CutBand(*this, "cropbottom", v, crop_bottom, frame_height); }
void TCustomFFmpeg::SetCropLeft(int v) { CutBand(*this, "cropleft", v, crop_left, frame_width); }
void TCustomFFmpeg::SetCropRight(int v) { CutBand(*this, "cropright", v, crop_right, frame_width); }

void TCustomFFmpeg::SetPadTop(int v) {
    if (OptionTakes("padtop", v)) pad_top = v;
}

void TCustomFFmpeg::SetPadBottom(int v) {
    if (OptionTakes("padbottom", v)) pad_bottom = v;
}

void TCustomFFmpeg::SetPadLeft(int v) {
    if (OptionTakes("padleft", v)) pad_left = v;
}

void TCustomFFmpeg::SetPadRight(int v) {
    if (OptionTakes("padright", v)) pad_right = v;
}

void TCustomFFmpeg::SetPadColor(int rgb) {
    const unsigned bits = static_cast<unsigned>(rgb);
    const int r = bits & 255, g = (bits >> 8) & 255, b = (bits >> 16) & 255;
    // JPEG YCbCr in 10-bit fixed point; the shifts of negative sums floor.
    const auto floor_div_1024 = [](int x) { return x >= 0 ? x / 1024 : -((-x + 1023) / 1024); };
    pad_color[0] = (307 * r + 602 * g + 117 * b + 512) >> 10;
    pad_color[1] = floor_div_1024(-173 * r - 340 * g + 512 * b + 511) + 128;
    pad_color[2] = floor_div_1024(512 * r - 429 * g - 84 * b + 511) + 128;
}

void TCustomFFmpeg::SetQScale(float q) {
    if (OptionTakes("qscale", q)) video_qscale = q;
}

void TCustomFFmpeg::SetMatrix(std::vector<uint16_t>& matrix, const std::string& text) {
    matrix.assign(64, 0);
    const char* p = text.c_str();
    for (int i = 0; i < 64; ++i) {
        matrix[i] = static_cast<uint16_t>(myutil.strtol(p, nullptr, 10));
        if (i == 63) break;
        p = std::strchr(p, ',');
        if (!p) throw FFmpegException(FormatText("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
        ++p;
    }
}

// ---- codecs and tags ----

void TCustomFFmpeg::SetCodecName(char kind, const std::string& name) {
    if (name.empty()) return;
    std::string& stored = kind == 'a' ? audio_codec_name : kind == 'v' ? video_codec_name : subtitle_codec_name;
    int& copy = kind == 'a' ? audio_stream_copy : kind == 'v' ? video_stream_copy : subtitle_stream_copy;
    stored.clear();
    if (name == "copy")
        copy = 1;
    else
        stored = name;
}

void TCustomFFmpeg::SetCodecTag(char kind, const std::string& text) {
    if (text.empty()) return;
    if (text.size() != 4)
        throw EAssertionFailed(kind == 'a' ? "audio tag parameter must be 4 chars" : "video tag parameter must be 4 chars");
    unsigned int tag = 0;
    for (int i = 3; i >= 0; --i) tag = (tag << 8) | static_cast<unsigned char>(text[i]);
    (kind == 'a' ? audio_codec_tag : video_codec_tag) = tag;
}

void TCustomFFmpeg::SetBitrate(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty()) return;
    if (!SetGenericOption(name, value) || !LogEnabled(1)) return;
    void* carrier = generic_options.codec_options[name[0] == 'a' ? 1 : 0];
    int64_t bitrate = 0;
    if (carrier && avutil.av_opt_get_int(carrier, "b", 0, &bitrate) >= 0 && bitrate < 1000)
        Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

// ---- times ----

int64_t TCustomFFmpeg::ParseTime(const std::string& option_name, const std::string& text, bool is_duration) {
    int64_t us = 0;
    if (avutil.av_parse_time(&us, text.c_str(), is_duration) < 0 || us == INT64_MIN)
        throw FFmpegException(FormatText("Invalid %s specification for %s: %s", is_duration ? "duration" : "date",
                                         option_name.c_str(), text.c_str()));
    return us;
}

void TCustomFFmpeg::SetRecordingTime(const std::string& text) {
    const int64_t ms = ParseTime("t", text, true) / 1000;
    if (ms <= 0) return;
    // A limit beyond the millisecond counter's range is kept whole; only the
    // progress total saturates.
    recording_time = ms * 1000;
    expected_duration_ms = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void TCustomFFmpeg::SetRecordingTimeMs(int ms) {
    if (ms <= 0) return;
    recording_time = static_cast<int64_t>(ms) * 1000;
    expected_duration_ms = ms;
}

void TCustomFFmpeg::SetStartTime(const std::string& text) { start_time = ParseTime("ss", text, true); }

void TCustomFFmpeg::SetStartTimeUs(int64_t us) {
    if (us > 0) start_time = us;
}

void TCustomFFmpeg::SetInputTsOffset(const std::string& text) {
    input_ts_offset = ParseTime("itsoffset", text, true);
}

void TCustomFFmpeg::SetRecordTimestamp(const std::string& text) {
    const int64_t us = ParseTime("timestamp", text, false);
    record_timestamp = static_cast<int64_t>(std::nearbyint(static_cast<double>(us) / 1000000.0));
}

// ---- maps, scales and tags ----

void TCustomFFmpeg::AddStreamMap(const std::string& text) {
    if (stream_map.size() >= MAX_STREAM_MAPS)
        throw FFmpegException(FormatText("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    TStreamMap map;
    const char* p = text.c_str();
    map.file_index = ReadInt(p);
    SkipSeparator(p);
    map.stream_index = ReadInt(p);
    if (*p) {
        SkipSeparator(p);
        map.sync_file_index = ReadInt(p);
        SkipSeparator(p);
        map.sync_stream_index = ReadInt(p);
    } else {
        map.sync_file_index = map.file_index;
        map.sync_stream_index = map.stream_index;
    }
    stream_map.push_back(map);
}

void TCustomFFmpeg::AddMetadataMap(const std::string& text) {
    if (metadata_map.size() >= MAX_METADATA_MAPS)
        throw FFmpegException(FormatText("Too many metadata maps (at most %d)", MAX_METADATA_MAPS));
    TMetadataMap map;
    const char* p = text.c_str();
    map.out_file = ReadInt(p);
    SkipSeparator(p);
    map.in_file = ReadInt(p);
    metadata_map.push_back(map);
}

void TCustomFFmpeg::SetTimestampScale(const std::string& text) {
    const char* p = text.c_str();
    const int stream = ReadInt(p);
    SkipSeparator(p);
    const double scale = ReadDouble(p);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFmpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    // The scale is for the file opened next; there is no room past the last one.
    if (input_file_count < 0 || input_file_count >= MAX_FILES)
        throw FFmpegException(FormatText("input file index over MAX_FILES(%d)", MAX_FILES));
    // A timestamp multiplied by an infinite or undefined scale has no value.
    if (!std::isfinite(scale)) throw FFmpegException(FormatText("Invalid timestamp scale: %s", text.c_str()));
    input_ts_scales[input_file_count][stream] = scale;
}

void TCustomFFmpeg::AddMetadataOption(const std::string& text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    metadata.emplace_back(text.substr(0, eq), text.substr(eq + 1));
}

void TCustomFFmpeg::AddMetadata(const std::string& key, const std::string& value) { metadata.emplace_back(key, value); }

// ---- miscellaneous ----

void TCustomFFmpeg::SetPass(int n) {
    if (OptionTakes("pass", n)) pass = n;
}

void TCustomFFmpeg::SetThreadCount(int n) {
    if (!OptionTakes("threads", n)) return;
    thread_count = n;
    picture_thread_count = n;
}

void TCustomFFmpeg::SetVstats() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::snprintf(clock, sizeof(clock), "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
    vstats_file_name = FormatText("%svstats_%s.log", ProgramFolder().c_str(), clock);
}

void TCustomFFmpeg::SetVstatsFile(const std::string& text) { vstats_file_name = text; }

void TCustomFFmpeg::AddBitstreamFilter(const std::string& option_name, const std::string& text) {
    if (text.empty() || text[0] == '=') return;
    const std::string name = text.substr(0, text.find('='));
    if (!avcodec.av_bsf_get_by_name(name.c_str()))
        throw FFmpegException(FormatText("Unknown bitstream filter %s", TrimText(text).c_str()));
    const char kind = option_name.empty() ? 's' : option_name[0];
    (kind == 'v' ? video_bsf_list : kind == 'a' ? audio_bsf_list : subtitle_bsf_list).push_back(name);
}

void TCustomFFmpeg::AddFrameHook(const std::string& text) {
    if (frame_hooks.Add(SplitHookArguments(text)) != 0)
        throw FFmpegException("Failed to add video hook function: " + text);
    hooks_in_use = true;
}

void TCustomFFmpeg::SetSampleRate(int v) {
    if (OptionTakes("ar", v)) audio_sample_rate = v;
}

void TCustomFFmpeg::SetChannels(int v) {
    if (OptionTakes("ac", v)) audio_channels = v;
}

// The program, volume and mux timings of a task record: a negative value there
// (0 for the timings) means unset and leaves the option as it was, while their
// option rows store any value given as text.
void TCustomFFmpeg::SetProgramId(int v) {
    if (v >= 0) program_id = v;
}

void TCustomFFmpeg::SetVolume(int v) {
    if (v >= 0) audio_volume = v;
}

void TCustomFFmpeg::SetMuxDelay(float seconds) {
    if (seconds > 0) mux_max_delay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
    if (seconds > 0) mux_preload = seconds;
}

void TCustomFFmpeg::SetHookRanges(const std::vector<THookRange>& ranges) {
    hook_ranges = ranges;
    std::stable_sort(hook_ranges.begin(), hook_ranges.end(),
                     [](const THookRange& a, const THookRange& b) { return a.end < b.end; });
}

void TCustomFFmpeg::SetTargetOption(const std::string& value) {
    std::string kind = TrimText(value);
    std::string norm = "auto";
    for (const char* prefix : {"pal", "ntsc", "film"}) {
        const std::string p = std::string(prefix) + "-";
        if (kind.compare(0, p.size(), p) == 0) {
            norm = prefix;
            kind.erase(0, p.size());
            break;
        }
    }
    SetTarget(kind, norm, "ntsc");
}
