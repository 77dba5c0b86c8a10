// SetOption: the option vocabulary as one table, one row per name, in the order
// options are looked up. A row either notes the name, converts the value into a
// field of the option state, or hands it to a value handler. Names that no row
// knows go to the libraries' generic options.
#include <string>

#include "core/Conversions.h"
#include "core/FFmpeg.h"

namespace {

enum class TOptionKind { Note, Int, Int64, Float, Flag, Set, Text, Handler, Todo };

using TOptionHandler = void (*)(TCustomFFmpeg& core, const std::string& name, const std::string& value);

struct TOptionEntry {
    const char* name;
    TOptionKind kind;
    int TOptionState::*int_field = nullptr;
    int64_t TOptionState::*int64_field = nullptr;
    float TOptionState::*float_field = nullptr;
    bool TOptionState::*flag_field = nullptr;
    std::string TOptionState::*text_field = nullptr;
    TOptionHandler handler = nullptr;
};

constexpr TOptionEntry Note(const char* name) { return {name, TOptionKind::Note}; }
constexpr TOptionEntry Todo(const char* name) { return {name, TOptionKind::Todo}; }
constexpr TOptionEntry Int(const char* name, int TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Int};
    e.int_field = field;
    return e;
}
constexpr TOptionEntry Int64(const char* name, int64_t TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Int64};
    e.int64_field = field;
    return e;
}
constexpr TOptionEntry Float(const char* name, float TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Float};
    e.float_field = field;
    return e;
}
constexpr TOptionEntry Flag(const char* name, bool TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Flag};
    e.flag_field = field;
    return e;
}
// The field becomes true whatever the value.
constexpr TOptionEntry Set(const char* name, bool TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Set};
    e.flag_field = field;
    return e;
}
constexpr TOptionEntry Text(const char* name, std::string TOptionState::*field) {
    TOptionEntry e{name, TOptionKind::Text};
    e.text_field = field;
    return e;
}
constexpr TOptionEntry Call(const char* name, TOptionHandler handler) {
    TOptionEntry e{name, TOptionKind::Handler};
    e.handler = handler;
    return e;
}

// A handler row's body; c is the core, name the option name, v the value.
#define ON(body) [](TCustomFFmpeg& c, const std::string& name, const std::string& v) { body; }

using S = TOptionState;

constexpr TOptionEntry OptionTable[] = {
    Note("L"),
    Note("h"),
    Note("version"),
    Note("formats"),
    Call("f", ON(c.SetFormat(v))),
    Note("i"),  // input files are given to the core separately
    Set("y", &S::overwrite_output),  // without it an existing file keeps its name
    Call("map", ON(c.AddStreamMap(v))),
    Call("map_meta_data", ON(c.AddMetadataMap(v))),
    Call("t", ON(c.SetRecordingTime(v))),
    Int64("fs", &S::file_size_limit),
    Call("ss", ON(c.SetStartTime(v))),
    Call("itsoffset", ON(c.SetInputTsOffset(v))),
    Call("itsscale", ON(c.SetTimestampScale(v))),
    Call("timestamp", ON(c.SetRecordTimestamp(v))),
    Call("metadata", ON(c.AddMetadataOption(v))),
    Call("dframes", ON(c.max_frames[mfData] = StrToInt(v))),
    Note("benchmark"),
    Flag("dump", &S::packet_dump),
    Flag("hex", &S::hex_dump),
    Flag("re", &S::rate_emulation),
    Flag("loop_input", &S::loop_input),
    Int("loop_output", &S::loop_output),
    Call("v", ON(c.SetVerbosity(StrToInt(v)))),
    Call("target", ON(c.SetTargetOption(v))),
    Todo("threads"),
    Int("vsync", &S::video_sync_method),
    Int("async", &S::audio_sync_method),
    Float("adrift_threshold", &S::audio_drift_threshold),
    Int("vglobal", &S::global_header_mode),
    Set("copyts", &S::copy_ts),
    Flag("shortest", &S::shortest),
    Float("dts_delta_threshold", &S::dts_delta_threshold),
    Int("programid", &S::program_id),
    Set("xerror", &S::exit_on_error),
    Int("copyinkf", &S::copy_initial_nonkey),
    Call("b", ON(c.SetBitrate(name, v))),
    Call("vb", ON(c.SetBitrate(name, v))),
    Call("vframes", ON(c.max_frames[mfVideo] = StrToInt(v))),
    Call("r", ON(c.SetFrameRate(v))),
    Call("s", ON(c.SetFrameSize(v))),
    Call("aspect", ON(c.SetAspect(v))),
    Call("pix_fmt", ON(c.SetPixelFormat(v))),
    Call("croptop", ON(c.SetCropTop(StrToInt(v)))),
    Call("cropbottom", ON(c.SetCropBottom(StrToInt(v)))),
    Call("cropleft", ON(c.SetCropLeft(StrToInt(v)))),
    Call("cropright", ON(c.SetCropRight(StrToInt(v)))),
    Call("padtop", ON(c.SetPadTop(StrToInt(v)))),
    Call("padbottom", ON(c.SetPadBottom(StrToInt(v)))),
    Call("padleft", ON(c.SetPadLeft(StrToInt(v)))),
    Call("padright", ON(c.SetPadRight(StrToInt(v)))),
    Call("padcolor", ON(c.SetPadColor(StrToInt(v)))),
    Flag("intra", &S::intra_only),
    Flag("vn", &S::video_disabled),
    Int("vdt", &S::video_discard),
    Call("qscale", ON(c.SetQScale(StrToFloat(v)))),
    Text("rc_override", &S::rc_override_text),
    Call("vcodec", ON(c.SetCodecName('v', v))),
    Int("me_threshold", &S::me_threshold),
    Flag("sameq", &S::same_quality),
    Call("pass", ON(c.SetPass(StrToInt(v)))),
    Text("passlogfile", &S::pass_log_prefix),
    Flag("deinterlace", &S::deinterlace),
    Flag("psnr", &S::psnr),
    Call("vstats", ON(c.SetVstats())),
    Call("vstats_file", ON(c.SetVstatsFile(v))),
    Call("vhook", ON(c.AddFrameHook(v))),
    Call("vfilters", ON(if (!v.empty()) c.video_filters = v)),
    Call("intra_matrix", ON(c.SetMatrix(c.intra_matrix, v))),
    Call("inter_matrix", ON(c.SetMatrix(c.inter_matrix, v))),
    Int("top", &S::top_field_first),
    Int("dc", &S::intra_dc_precision),
    Call("vtag", ON(c.SetCodecTag('v', v))),
    Call("newvideo", ON(c.AddVideoStream())),
    Flag("qphist", &S::qp_hist_enabled),
    Flag("force_fps", &S::force_fps),
    Call("ab", ON(c.SetBitrate(name, v))),
    Call("aframes", ON(c.max_frames[mfAudio] = StrToInt(v))),
    Float("aq", &S::audio_qscale),
    Call("ar", ON(c.SetSampleRate(StrToInt(v)))),
    Call("ac", ON(c.SetChannels(StrToInt(v)))),
    Flag("an", &S::audio_disabled),
    Call("acodec", ON(c.SetCodecName('a', v))),
    Call("atag", ON(c.SetCodecTag('a', v))),
    Int("vol", &S::audio_volume),
    Call("newaudio", ON(c.AddAudioStream())),
    Text("alang", &S::audio_language),
    Call("sample_fmt", ON(c.SetSampleFormat(v))),
    Flag("sn", &S::subtitle_disabled),
    Call("scodec", ON(c.SetCodecName('s', v))),
    Call("newsubtitle", ON(c.AddSubtitleStream())),
    Text("slang", &S::subtitle_language),
    Int("vc", &S::video_channel),
    Text("tvstd", &S::tv_standard),
    Flag("isync", &S::input_sync),
    Float("muxdelay", &S::mux_max_delay),
    Float("muxpreload", &S::mux_preload),
    Call("absf", ON(c.AddBitstreamFilter(name, v))),
    Call("vbsf", ON(c.AddBitstreamFilter(name, v))),
    Call("sbsf", ON(c.AddBitstreamFilter(name, v))),
    Note("apre"),
    Note("vpre"),
    Note("spre"),
};

#undef ON

}  // namespace

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
    for (const TOptionEntry& entry : OptionTable) {
        if (name != entry.name) continue;
        switch (entry.kind) {
            case TOptionKind::Note: Log(1, "Do nothing: option - " + name); break;
            case TOptionKind::Int: this->*entry.int_field = StrToInt(value); break;
            case TOptionKind::Int64: this->*entry.int64_field = StrToInt64(value); break;
            case TOptionKind::Float: this->*entry.float_field = StrToFloat(value); break;
            case TOptionKind::Flag: this->*entry.flag_field = StrToFlag(value); break;
            case TOptionKind::Set: this->*entry.flag_field = true; break;
            case TOptionKind::Text: this->*entry.text_field = value; break;
            case TOptionKind::Handler: entry.handler(*this, name, value); break;
            case TOptionKind::Todo: throw FFmpegException("TODO: option - " + name);
        }
        return;
    }
    SetGenericOption(name, value);
}

// The names SetOption knows, in lookup order (for the tests and the fuzzer).
std::vector<std::string> TCustomFFmpeg::OptionNames() {
    std::vector<std::string> names;
    for (const TOptionEntry& entry : OptionTable) names.emplace_back(entry.name);
    return names;
}
