// The fall-through of unknown option names to the libraries' own options
// (AVOptions): values are held on carrier contexts and copied to the real
// codec and format contexts when those are made.
#include "core/FFmpeg.h"
#include "core/LogLevel.h"

namespace {

// Media type flags of the carriers, in carrier order. Data and attachment have
// none, so any codec option matches them.
constexpr int CarrierTypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                     AV_OPT_FLAG_SUBTITLE_PARAM, 0};
constexpr AVMediaType CarrierTypes[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                         AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

// "b" and "bt" are the video bit rate and its tolerance here ("ab" and "abt"
// the audio ones); the libraries' options of those names serve both media
// types, so the audio carrier is kept out of them.
bool VideoOnly(const std::string& name) { return name == "b" || name == "bt"; }

bool BlankText(const std::string& text) {
    for (unsigned char c : text)
        if (c > ' ') return false;
    return true;
}

// Sets name on one carrier; found is the option the carrier knows by that name.
int SetOn(void* carrier, const char* name, const char* value, const AVOption*& found) {
    if (!carrier) return 0;
    const AVOption* option = avutil.av_opt_find(carrier, name, nullptr, 0, 0);
    if (!option) return AVERROR_OPTION_NOT_FOUND;
    found = option;
    return avutil.av_opt_set(carrier, name, value, 0);
}

}  // namespace

bool TGenericOptionStore::Create(int scaler_flags) {
    Release();
    for (int t = 0; t < 5; ++t) {
        codec_options[t] = avcodec.avcodec_alloc_context3(nullptr);
        if (!codec_options[t]) return false;
        codec_options[t]->codec_type = CarrierTypes[t];
    }
    format_options = avformat.avformat_alloc_context();
    scaler_options = swscale.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P, scaler_flags,
                                            nullptr, nullptr, nullptr);
    return format_options && scaler_options;
}

void TGenericOptionStore::Release() {
    // Without the libraries (unloaded first) the carriers cannot be freed any more.
    for (auto& carrier : codec_options) {
        if (carrier && avcodec.avcodec_free_context) avcodec.avcodec_free_context(&carrier);
        carrier = nullptr;
    }
    if (format_options && avformat.avformat_free_context) avformat.avformat_free_context(format_options);
    format_options = nullptr;
    if (scaler_options && swscale.sws_freeContext) swscale.sws_freeContext(scaler_options);
    scaler_options = nullptr;
    names.clear();
}

void TCustomFFmpeg::ResetOptionState() {
    static_cast<TOptionState&>(*this) = TOptionState{};
    generic_options.Create(scaler_flags);
}

bool TCustomFFmpeg::SetGenericOption(const std::string& name, const std::string& value) {
    if (BlankText(name) || BlankText(value)) return false;
    TGenericOptionStore& store = generic_options;
    if (!store.codec_options[0] || !avutil.av_opt_find) return false;
    const char* n = name.c_str();
    const char* v = value.c_str();

    const AVOption* found = nullptr;
    int result = 0;
    for (int t = 0; t < 5 && result >= 0; ++t) {
        if (CarrierTypes[t] == AVMEDIA_TYPE_AUDIO && VideoOnly(name)) continue;
        const int flags = CarrierTypeFlags[t];
        if (avutil.av_opt_find(store.codec_options[0], n, nullptr, flags, 0))
            result = SetOn(store.codec_options[t], n, v, found);
    }
    if (!found) result = SetOn(store.format_options, n, v, found);
    if (!found) result = SetOn(store.scaler_options, n, v, found);
    if (!found && name.size() > 1) {
        // "ab", "vb", "sb" ...: the codec option of that media type.
        void* carrier = nullptr;
        if (name[0] == 'a') carrier = store.codec_options[1];
        else if (name[0] == 'v') carrier = store.codec_options[0];
        else if (name[0] == 's') carrier = store.codec_options[3];
        if (carrier) result = SetOn(carrier, n + 1, v, found);
    }
    if (found && result < 0) {
        avutil.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", v, n);
        return false;
    }
    if (!found) return false;

    store.names.emplace_back(found->name);
    if ((store.codec_options[0] && store.codec_options[0]->debug) ||
        (store.format_options && store.format_options->debug))
        SetVerbosity(2);
    return true;
}

bool TCustomFFmpeg::SetGenericIntOption(const std::string& name, int value) {
    return SetGenericOption(name, std::to_string(value));
}

void TCustomFFmpeg::ApplyGenericOptions(void* target, void* source, int mask) {
    if (!target || !source) return;
    for (const std::string& name : generic_options.names) {
        const AVOption* option = avutil.av_opt_find(source, name.c_str(), nullptr, 0, 0);
        if (!option) continue;
        uint8_t* text = nullptr;
        if (avutil.av_opt_get(source, name.c_str(), 0, &text) < 0 || !text) continue;
        if ((option->flags & mask) == mask)
            avutil.av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text), 0);
        avutil.av_free(text);
    }
}

void TCustomFFmpeg::SetVerbosity(int level) {
    verbosity = level;
    if (avutil.av_log_set_level) avutil.av_log_set_level(CoreToLibLogLevel(level));
    LogThreshold = level;
}
