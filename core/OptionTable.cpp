// SetOption: the option vocabulary as one table, one row per name, in the order
// options are looked up. A row either notes the name, converts the value into a
// field of the option state, or hands it to a value handler; it says what its
// value is and does for the listing, and holds the range its setter checks.
// Names that no row knows go to the libraries' generic options.
#include <cmath>
#include <limits>
#include <string>

#include "core/Conversions.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"
#include "core/OptionInfo.h"

namespace {

enum class TOptionKind { Note, Int, Int64, Float, Flag, Set, Text, Handler };

using TOptionHandler = void (*)(TCustomFFmpeg& core, const std::string& name, const std::string& value);

constexpr double Unbounded = std::numeric_limits<double>::infinity();

// The values a numeric row takes, checked by the row's setter (OptionTakes), which
// the option text and the task records both reach. A value outside min..max is
// refused with the refusal, or ignored (the field keeps its value) when there is none.
struct TOptionRange {
    double min = -Unbounded;
    double max = Unbounded;
    bool above_min = false;             // min itself is outside
    const char* refusal = nullptr;
    const char* odd_refusal = nullptr;  // even values only; an odd one is refused with this
    // The value must also stay below this field (a side of the picture).
    int TOptionState::*below = nullptr;
    const char* below_refusal = nullptr;
};

struct TOptionEntry {
    const char* name;
    TOptionKind kind;
    const char* value;        // what the value is, for the listing: "int", "time", "codec|copy", ...
    const char* description;  // one line for the listing
    TOptionRange range{};
    int TOptionState::*int_field = nullptr;
    int64_t TOptionState::*int64_field = nullptr;
    float TOptionState::*float_field = nullptr;
    bool TOptionState::*flag_field = nullptr;
    std::string TOptionState::*text_field = nullptr;
    TOptionHandler handler = nullptr;
};

constexpr TOptionEntry Note(const char* name, const char* description = "accepted and ignored") {
    return {name, TOptionKind::Note, "none", description};
}
constexpr TOptionEntry Int(const char* name, int TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Int, "int", description};
    e.int_field = field;
    return e;
}
constexpr TOptionEntry Int64(const char* name, int64_t TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Int64, "int", description};
    e.int64_field = field;
    return e;
}
constexpr TOptionEntry Float(const char* name, float TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Float, "number", description};
    e.float_field = field;
    return e;
}
// The field becomes false for "0", true for anything else.
constexpr TOptionEntry Flag(const char* name, bool TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Flag, "flag", description};
    e.flag_field = field;
    return e;
}
// The field becomes true whatever the value.
constexpr TOptionEntry Set(const char* name, bool TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Set, "none", description};
    e.flag_field = field;
    return e;
}
constexpr TOptionEntry Text(const char* name, std::string TOptionState::*field, const char* description) {
    TOptionEntry e{name, TOptionKind::Text, "text", description};
    e.text_field = field;
    return e;
}
constexpr TOptionEntry Call(const char* name, const char* value, const char* description, TOptionHandler handler,
                            TOptionRange range = {}) {
    TOptionEntry e{name, TOptionKind::Handler, value, description, range};
    e.handler = handler;
    return e;
}

// Ranges: from min up, anything below ignored; min..max, anything else refused;
// a band of the picture, even and from 0 up (a negative one ignored).
constexpr TOptionRange From(double min) { return {.min = min}; }
constexpr TOptionRange Within(double min, double max, const char* refusal) {
    return {.min = min, .max = max, .refusal = refusal};
}
constexpr TOptionRange Band(const char* odd_refusal) { return {.min = 0, .odd_refusal = odd_refusal}; }
constexpr TOptionRange Crop(const char* odd_refusal, int TOptionState::*side, const char* beyond) {
    return {.min = 0, .odd_refusal = odd_refusal, .below = side, .below_refusal = beyond};
}

constexpr const char* VerticalCropRange =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
constexpr const char* HorizontalCropRange =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";

// A handler row's body; c is the core, name the option name, v the value.
#define ON(body) [](TCustomFFmpeg& c, const std::string& name, const std::string& v) { body; }

using S = TOptionState;

constexpr TOptionEntry OptionTable[] = {
    Note("L"),
    Note("h"),
    Note("version"),
    Note("formats"),
    Call("f", "format", "container format of the next input or output", ON(c.SetFormat(v))),
    Note("i", "accepted and ignored: the inputs are given apart"),
    Set("y", &S::overwrite_output, "replace an existing file of the output's name"),
    Set("discard_stopped", &S::discard_stopped_output, "keep no output of a stopped conversion"),
    Call("map", "F:S[:F:S]", "write stream S of input F (synced to the second pair)", ON(c.AddStreamMap(v))),
    Call("map_meta_data", "OUT:IN", "tags of output OUT from input IN", ON(c.AddMetadataMap(v))),
    Call("t", "time", "stop writing after this duration", ON(c.SetRecordingTime(v))),
    Int64("fs", &S::file_size_limit, "stop writing at this file size, bytes (0 no limit)"),
    Call("ss", "time", "start at this position of the input", ON(c.SetStartTime(v))),
    Call("itsoffset", "time", "offset added to the next input's timestamps", ON(c.SetInputTsOffset(v))),
    Call("itsscale", "S:SCALE", "scale of stream S's timestamps in the next input", ON(c.SetTimestampScale(v))),
    Call("timestamp", "date", "recording date written into the output", ON(c.SetRecordTimestamp(v))),
    Call("metadata", "KEY=VALUE", "a tag of the next output", ON(c.AddMetadataOption(v))),
    Call("dframes", "int", "stop after this many data frames", ON(c.max_frames[mfData] = StrToInt(v))),
    Note("benchmark"),
    Flag("dump", &S::packet_dump, "log every packet read"),
    Flag("hex", &S::hex_dump, "with dump: log the packets' bytes too"),
    Flag("re", &S::rate_emulation, "read the input no faster than it plays"),
    Flag("loop_input", &S::loop_input, "loop the input (a picture sequence)"),
    Int("loop_output", &S::loop_output, "times an animated output loops (0 forever, -1 the muxer's choice)"),
    Call("v", "int", "log verbosity: -1 quiet, 0 errors, 1 information, more for debugging",
         ON(c.SetVerbosity(StrToInt(v)))),
    Call("target", "vcd|svcd|dvd|dv|dv50", "disc or tape preset; pal-, ntsc- or film- before it sets the norm",
         ON(c.SetTargetOption(v))),
    Call("threads", "int", "threads of each decoder and encoder (0 one per processor)",
         ON(c.SetThreadCount(StrToInt(v))), Within(0, 16, "threads must be from 0 (one per processor) to 16")),
    Int("vsync", &S::video_sync_method, "video sync: -1 auto, 0 pass through, 1 constant rate, 2 variable rate"),
    Int("async", &S::audio_sync_method, "audio sync: 0 off, 1 pad or cut, N also stretch by up to N samples"),
    Float("adrift_threshold", &S::audio_drift_threshold, "audio drift corrected by padding or cutting, seconds"),
    Int("vglobal", &S::global_header_mode, "codec headers: 0 as the container wants, 1 global, 2 local, 3 both"),
    Set("copyts", &S::copy_ts, "keep the input's timestamps"),
    Flag("shortest", &S::shortest, "end the output with its shortest stream"),
    Float("dts_delta_threshold", &S::dts_delta_threshold, "timestamp jump taken as a discontinuity, seconds"),
    Int("programid", &S::program_id, "read only the streams of this program (0 all)"),
    Set("xerror", &S::exit_on_error, "stop at the first error"),
    Int("copyinkf", &S::copy_initial_nonkey, "copied video: keep the packets before the first key frame"),
    Call("b", "bitrate", "video bit rate, bit/s", ON(c.SetBitrate(name, v))),
    Call("vb", "bitrate", "video bit rate, bit/s", ON(c.SetBitrate(name, v))),
    Call("vframes", "int", "stop after this many video frames", ON(c.max_frames[mfVideo] = StrToInt(v))),
    Call("r", "rate", "frame rate (25, 30000/1001, ntsc, ...)", ON(c.SetFrameRate(v))),
    Call("s", "size", "picture size, WxH or a name (vga, hd720, ...); even", ON(c.SetFrameSize(v))),
    Call("aspect", "W:H|number", "display aspect ratio", ON(c.SetAspect(v))),
    Call("pix_fmt", "format|list", "pixel format; list logs the known ones", ON(c.SetPixelFormat(v))),
    Call("croptop", "int", "pixels cut from the top, less than the height", ON(c.SetCropTop(StrToInt(v))),
         Crop("Top crop size must be a multiple of 2", &S::frame_height, VerticalCropRange)),
    Call("cropbottom", "int", "pixels cut from the bottom, less than the height", ON(c.SetCropBottom(StrToInt(v))),
         Crop("Bottom crop size must be a multiple of 2", &S::frame_height, VerticalCropRange)),
    Call("cropleft", "int", "pixels cut from the left, less than the width", ON(c.SetCropLeft(StrToInt(v))),
         Crop("Left crop size must be a multiple of 2", &S::frame_width, HorizontalCropRange)),
    Call("cropright", "int", "pixels cut from the right, less than the width", ON(c.SetCropRight(StrToInt(v))),
         Crop("Right crop size must be a multiple of 2", &S::frame_width, HorizontalCropRange)),
    Call("padtop", "int", "pixels of padding added at the top", ON(c.SetPadTop(StrToInt(v))),
         Band("Top pad size must be a multiple of 2")),
    Call("padbottom", "int", "pixels of padding added at the bottom", ON(c.SetPadBottom(StrToInt(v))),
         Band("Bottom pad size must be a multiple of 2")),
    Call("padleft", "int", "pixels of padding added at the left", ON(c.SetPadLeft(StrToInt(v))),
         Band("Left pad size must be a multiple of 2")),
    Call("padright", "int", "pixels of padding added at the right", ON(c.SetPadRight(StrToInt(v))),
         Band("Right pad size must be a multiple of 2")),
    Call("padcolor", "int", "padding colour, blue * 65536 + green * 256 + red", ON(c.SetPadColor(StrToInt(v)))),
    Flag("intra", &S::intra_only, "key frames only"),
    Flag("vn", &S::video_disabled, "no video"),
    Int("vdt", &S::video_discard, "input video frames discarded (the libraries' discard level)"),
    Call("qscale", "number", "constant video quantizer", ON(c.SetQScale(StrToFloat(v))),
         {.min = 0, .max = 255, .above_min = true, .refusal = "qscale must be > 0.0 and <= 255"}),
    Text("rc_override", &S::rc_override_text, "rate control by frame range, START,END,Q/..."),
    Call("vcodec", "codec|copy", "video encoder; copy passes the stream through", ON(c.SetCodecName('v', v))),
    Int("me_threshold", &S::me_threshold, "motion estimation threshold; not 0 keeps the input's frame types"),
    Flag("sameq", &S::same_quality, "encode at the input's quality"),
    Call("pass", "int", "pass of a two-pass encoding", ON(c.SetPass(StrToInt(v))),
         Within(1, 2, "pass number can be only 1 or 2")),
    Text("passlogfile", &S::pass_log_prefix, "prefix of the two-pass log file"),
    Flag("deinterlace", &S::deinterlace, "deinterlace the pictures"),
    Flag("psnr", &S::psnr, "compute the PSNR of the encoded pictures"),
    Call("vstats", "none", "video encoding statistics beside the program", ON(c.SetVstats())),
    Call("vstats_file", "file", "video encoding statistics into this file", ON(c.SetVstatsFile(v))),
    Call("vhook", "PATH [ARG...]", "a frame hook plug-in and its arguments", ON(c.AddFrameHook(v))),
    Call("vfilters", "text", "video filter graph", ON(if (!v.empty()) c.video_filters = v)),
    Call("intra_matrix", "64 numbers", "intra quantization matrix, comma-separated",
         ON(c.SetMatrix(c.intra_matrix, v))),
    Call("inter_matrix", "64 numbers", "inter quantization matrix, comma-separated",
         ON(c.SetMatrix(c.inter_matrix, v))),
    Int("top", &S::top_field_first, "top field first: -1 as the input, 0 no, 1 yes"),
    Int("dc", &S::intra_dc_precision, "intra DC precision, bits"),
    Call("vtag", "fourcc", "video codec tag, four characters", ON(c.SetCodecTag('v', v))),
    Call("newvideo", "none", "add a video stream to the last output", ON(c.AddVideoStream())),
    Flag("qphist", &S::qp_hist_enabled, "log the quantizer histogram"),
    Flag("force_fps", &S::force_fps, "keep the frame rate even when the encoder does not list it"),
    Call("ab", "bitrate", "audio bit rate, bit/s", ON(c.SetBitrate(name, v))),
    Call("aframes", "int", "stop after this many audio frames", ON(c.max_frames[mfAudio] = StrToInt(v))),
    Float("aq", &S::audio_qscale, "audio quality, on the encoder's own scale"),
    Call("ar", "int", "audio sample rate, Hz", ON(c.SetSampleRate(StrToInt(v))), From(1)),
    Call("ac", "int", "audio channels", ON(c.SetChannels(StrToInt(v))), From(1)),
    Flag("an", &S::audio_disabled, "no audio"),
    Call("acodec", "codec|copy", "audio encoder; copy passes the stream through", ON(c.SetCodecName('a', v))),
    Call("atag", "fourcc", "audio codec tag, four characters", ON(c.SetCodecTag('a', v))),
    Int("vol", &S::audio_volume, "audio volume, 256 unchanged"),
    Call("newaudio", "none", "add an audio stream to the last output", ON(c.AddAudioStream())),
    Text("alang", &S::audio_language, "language of the audio stream"),
    Call("sample_fmt", "format|list", "audio sample format; list logs the known ones", ON(c.SetSampleFormat(v))),
    Flag("sn", &S::subtitle_disabled, "no subtitles"),
    Call("scodec", "codec|copy", "subtitle encoder; copy passes the stream through", ON(c.SetCodecName('s', v))),
    Call("newsubtitle", "none", "add a subtitle stream to the last output", ON(c.AddSubtitleStream())),
    Text("slang", &S::subtitle_language, "language of the subtitle stream"),
    Int("vc", &S::video_channel, "channel of a capture device"),
    Text("tvstd", &S::tv_standard, "TV standard of a capture device"),
    Flag("isync", &S::input_sync, "sync the streams to their own input"),
    Float("muxdelay", &S::mux_max_delay, "largest delay between demuxing and decoding, seconds"),
    Float("muxpreload", &S::mux_preload, "delay before the first packet is decoded, seconds"),
    Call("absf", "filter", "bitstream filter of the next audio stream", ON(c.AddBitstreamFilter(name, v))),
    Call("vbsf", "filter", "bitstream filter of the next video stream", ON(c.AddBitstreamFilter(name, v))),
    Call("sbsf", "filter", "bitstream filter of the next subtitle stream", ON(c.AddBitstreamFilter(name, v))),
    Note("apre"),
    Note("vpre"),
    Note("spre"),
};

#undef ON

const TOptionEntry* RowNamed(const std::string& name) {
    for (const TOptionEntry& entry : OptionTable)
        if (name == entry.name) return &entry;
    return nullptr;
}

// The range's text in the listing: "1..2", ">0..255", "0.. even"; "" for any value.
std::string RangeText(const TOptionRange& r) {
    std::string text;
    if (std::isfinite(r.min)) text = FormatText("%s%g..", r.above_min ? ">" : "", r.min);
    if (std::isfinite(r.max)) text += FormatText("%s%g", text.empty() ? ".." : "", r.max);
    if (r.odd_refusal) text += " even";
    return text;
}

}  // namespace

bool TCustomFFmpeg::OptionTakes(const std::string& name, double value) const {
    const TOptionEntry* row = RowNamed(name);
    if (!row) throw EAssertionFailed("no option row " + name);
    const TOptionRange& r = row->range;
    // Written so that a value that is not a number is outside.
    const bool inside = (r.above_min ? value > r.min : value >= r.min) && value <= r.max;
    if (!inside && r.refusal) throw FFmpegException(r.refusal);
    if (!inside) return false;
    if (r.odd_refusal && std::fmod(value, 2) != 0) throw FFmpegException(r.odd_refusal);
    if (r.below && value >= this->*r.below) throw FFmpegException(r.below_refusal);
    return true;
}

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
    const TOptionEntry* entry = RowNamed(name);
    if (!entry) {
        SetGenericOption(name, value);
        return;
    }
    switch (entry->kind) {
        case TOptionKind::Note: Log(1, "Do nothing: option - " + name); break;
        case TOptionKind::Int: this->*entry->int_field = StrToInt(value); break;
        case TOptionKind::Int64: this->*entry->int64_field = StrToInt64(value); break;
        case TOptionKind::Float: this->*entry->float_field = StrToFloat(value); break;
        case TOptionKind::Flag: this->*entry->flag_field = StrToFlag(value); break;
        case TOptionKind::Set: this->*entry->flag_field = true; break;
        case TOptionKind::Text: this->*entry->text_field = value; break;
        case TOptionKind::Handler: entry->handler(*this, name, value); break;
    }
}

// The names SetOption knows, in lookup order (for the tests and the fuzzer).
std::vector<std::string> TCustomFFmpeg::OptionNames() {
    std::vector<std::string> names;
    for (const TOptionEntry& entry : OptionTable) names.emplace_back(entry.name);
    return names;
}

std::vector<TOptionInfo> OptionInfo() {
    std::vector<TOptionInfo> rows;
    for (const TOptionEntry& entry : OptionTable) {
        const std::string range = RangeText(entry.range);
        rows.push_back({entry.name, range.empty() ? entry.value : entry.value + (" " + range), entry.description});
    }
    return rows;
}
