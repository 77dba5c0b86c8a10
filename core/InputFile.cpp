// Opening input files: the option state becomes demuxer settings, the opened
// file's stream properties flow back into the option state for the outputs.
#include <algorithm>
#include <climits>
#include <mutex>

#include "binding/FFmpegLoader.h"
#include "binding/LocalName.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

bool RationalSet(AVRational q) { return q.num > 0 && q.den > 0; }

double RatioOf(AVRational q) { return q.den != 0 ? static_cast<double>(q.num) / q.den : 0.0; }

// A declared picture rate whose one picture would outlast the whole file and
// an hour more (a damaged 16.16 field reads as 1/65536 fps) contradicts the
// packets' times: it is forgotten, so the pictures keep their own times and
// the output takes its default rate.
void ForgetContradictedRate(const AVFormatContext& ic, AVStream& st) {
    if (st.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return;
    const int64_t limit = std::max<int64_t>(ic.duration, 0) + int64_t{3600} * AV_TIME_BASE;
    for (AVRational* rate : {&st.avg_frame_rate, &st.r_frame_rate}) {
        if (rate->num <= 0 || rate->den <= 0) continue;
        if (avutil.av_rescale_q(1, AVRational{rate->den, rate->num}, AV_TIME_BASE_Q) > limit) *rate = AVRational{0, 1};
    }
}

}  // namespace

bool TCustomFFmpeg::FindCodecId(const std::string& name, AVMediaType type, bool encoder, AVCodecID& codec_id,
                                const AVCodec** found) {
    if (found) *found = nullptr;
    if (name.empty()) {
        codec_id = AV_CODEC_ID_NONE;
        return true;
    }
    const char* kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? avcodec.avcodec_find_encoder_by_name(name.c_str())
                                   : avcodec.avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        last_error = FormatText("Unknown %s '%s'", kind, name.c_str());
        return false;
    }
    if (codec->type != type) {
        last_error = FormatText("Invalid %s type '%s'", kind, name.c_str());
        return false;
    }
    codec_id = codec->id;
    if (found) *found = codec;
    return true;
}

// The demuxer settings a device or raw input may need; demuxers that do not
// know a setting leave it alone.
TDictionaryPtr TCustomFFmpeg::DemuxerSettings() const {
    AVDictionary* settings_raw = nullptr;
    if (RationalSet(frame_rate))
        avutil.av_dict_set(&settings_raw, "framerate", FormatText("%d/%d", frame_rate.num, frame_rate.den).c_str(), 0);
    if (audio_sample_rate > 0) avutil.av_dict_set_int(&settings_raw, "sample_rate", audio_sample_rate, 0);
    if (audio_channels > 0) avutil.av_dict_set_int(&settings_raw, "channels", audio_channels, 0);
    const int64_t width = static_cast<int64_t>(frame_width) + pad_left + pad_right;
    const int64_t height = static_cast<int64_t>(frame_height) + pad_top + pad_bottom;
    if (width > 0 && height > 0) {
        const std::string size = FormatText("%lldx%lld", static_cast<long long>(width), static_cast<long long>(height));
        avutil.av_dict_set(&settings_raw, "video_size", size.c_str(), 0);
    }
    if (frame_pix_fmt >= 0) {
        if (const char* pix_name = avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame_pix_fmt)))
            avutil.av_dict_set(&settings_raw, "pixel_format", pix_name, 0);
    }
    if (video_channel != 0) avutil.av_dict_set_int(&settings_raw, "channel", video_channel, 0);
    if (!tv_standard.empty()) avutil.av_dict_set(&settings_raw, "standard", tv_standard.c_str(), 0);
    if (loop_input) avutil.av_dict_set_int(&settings_raw, "loop", 1, 0);
    AllowOnlyLocalFiles(&settings_raw);
    return TDictionaryPtr(settings_raw);
}

// What the options take from an input stream (the pictures' size, aspect,
// format and rate; the sound's layout, channels, rate and format) and whether it
// is read; the decoder forced for it by name, or none.
const AVCodec* TCustomFFmpeg::TakeStreamProperties(AVStream& st, AVCodecContext& dec, int index) {
    const AVCodec* forced = nullptr;
    switch (st.codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            ApplyGenericOptions(&dec, generic_options.codec_options[0],
                                AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            frame_height = dec.height;
            frame_width = dec.width;
            const double ratio = st.sample_aspect_ratio.num != 0 ? RatioOf(st.sample_aspect_ratio)
                                                                 : RatioOf(dec.sample_aspect_ratio);
            if (static_cast<int64_t>(dec.width) * dec.height != 0)
                frame_aspect = static_cast<float>(ratio != 0 ? ratio * dec.width / dec.height
                                                             : static_cast<double>(dec.width) / dec.height);
            else
                frame_aspect = static_cast<float>(ratio != 0 ? ratio : 4.0 / 3.0);
            if (dec.pix_fmt == AV_PIX_FMT_NONE) dec.pix_fmt = static_cast<AVPixelFormat>(0);
            frame_pix_fmt = dec.pix_fmt;
            // The codec's own rate is the stream's average rate here.
            const AVRational codec_rate = st.avg_frame_rate;
            const AVRational rate = st.r_frame_rate;
            if (RationalSet(codec_rate) && (codec_rate.num != rate.num || codec_rate.den != rate.den) &&
                verbosity > 0)
                LogF(1,
                     "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                     "%2.2f (%d/%d)",
                     index, RatioOf(codec_rate), codec_rate.num, codec_rate.den, RatioOf(rate),
                     rate.num, rate.den);
            frame_rate = rate;
            if (!video_codec_name.empty()) forced = avcodec.avcodec_find_decoder_by_name(video_codec_name.c_str());
            if (video_disabled)
                st.discard = AVDISCARD_ALL;
            else if (video_discard != 0)
                st.discard = static_cast<AVDiscard>(
                    std::clamp(video_discard, static_cast<int>(AVDISCARD_NONE), static_cast<int>(AVDISCARD_ALL)));
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            ApplyGenericOptions(&dec, generic_options.codec_options[1],
                                AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            audio_channel_layout = dec.ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                       ? static_cast<int64_t>(dec.ch_layout.u.mask)
                                       : 0;
            audio_channels = dec.ch_layout.nb_channels;
            audio_sample_rate = dec.sample_rate;
            audio_sample_fmt = dec.sample_fmt;
            if (!audio_codec_name.empty()) forced = avcodec.avcodec_find_decoder_by_name(audio_codec_name.c_str());
            if (audio_disabled) st.discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (!subtitle_codec_name.empty())
                forced = avcodec.avcodec_find_decoder_by_name(subtitle_codec_name.c_str());
            if (subtitle_disabled) st.discard = AVDISCARD_ALL;
            break;
        default:  // data, attachment, unknown: nothing to decode
            break;
    }
    return forced;
}

// A decoder context for each of the file's streams, with what the options take
// from it; false with last_error, leaving the decoder table as it was.
bool TCustomFFmpeg::AddInputDecoders(TInputFile& file, const std::string& file_name) {
    AVFormatContext* ic = file.get();
    const int first_decoder = input_decoder_count;
    if (first_decoder + static_cast<int>(ic->nb_streams) > static_cast<int>(input_decoders.size())) {
        last_error = FormatText("%s: too many input streams", file_name.c_str());
        return false;
    }
    try {
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            AVStream* st = ic->streams[i];
            const int type = st->codecpar->codec_type;
            if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT)
                throw FFmpegException("invalid codec_type");

            TCodecContextPtr dec(avcodec.avcodec_alloc_context3(nullptr));
            if (!dec || avcodec.avcodec_parameters_to_context(dec.get(), st->codecpar) < 0) {
                last_error = FFmpegErrorText(file_name, AVERROR(ENOMEM));
                for (int k = first_decoder; k < input_decoder_count; ++k) input_decoders[k] = nullptr;
                input_decoder_count = first_decoder;
                return false;
            }
            dec->pkt_timebase = st->time_base;
            dec->thread_count = thread_count;

            // Every stream has its entry, so that the entries line up with the
            // input streams of the transcode; streams nobody forces keep none.
            ForgetContradictedRate(*ic, *st);
            input_decoders[input_decoder_count++] = TakeStreamProperties(*st, *dec, static_cast<int>(i));
            file.decoders.push_back(std::move(dec));
        }
    } catch (...) {
        for (int k = first_decoder; k < input_decoder_count; ++k) input_decoders[k] = nullptr;
        input_decoder_count = first_decoder;
        throw;
    }
    return true;
}

void TCustomFFmpeg::ForgetOpeningOptions() {
    video_codec_name.clear();
    audio_codec_name.clear();
    subtitle_codec_name.clear();
    forced_input_format = nullptr;
    forced_output_format = nullptr;
    video_channel = 0;
}

// The streams' parameters, read from the file's start; only the chosen program's
// streams are read.
bool TCustomFFmpeg::ReadStreamInfo(AVFormatContext* ic, const std::string& file_name) {
    if (program_id != 0) {
        for (unsigned i = 0; i < ic->nb_programs; ++i)
            if (ic->programs[i]->id != program_id) ic->programs[i]->discard = AVDISCARD_ALL;
    }
    int probed;
    {
        std::lock_guard<std::mutex> lock(CodecLock);
        probed = avformat.avformat_find_stream_info(ic, nullptr);
    }
    if (probed >= 0 || verbosity < 0) return true;
    last_error = FormatText("%s: could not find codec parameters", file_name.c_str());
    return false;
}

// Seeks to the start time asked for, once; the position in the file's time (microseconds).
int64_t TCustomFFmpeg::SeekToStartTime(AVFormatContext* ic) {
    int64_t position = start_time;
    if (ic->start_time != AV_NOPTS_VALUE) position += ic->start_time;
    if (start_time != 0) {
        // A failed seek can leave the demuxer at the end of the file (files
        // without an index): it then reads from its start as if never moved.
        if (avformat.av_seek_frame(ic, -1, position, AVSEEK_FLAG_BACKWARD) < 0)
            avformat.av_seek_frame(ic, -1, ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0,
                                   AVSEEK_FLAG_BACKWARD);
        start_time = 0;
    }
    return position;
}

TInputContextPtr TCustomFFmpeg::OpenContainer(TFormatContextPtr made, const std::string& file_name) {
    TDictionaryPtr settings = DemuxerSettings();
    // The library frees a context of its caller's when the opening fails.
    AVFormatContext* opening = made.release();
    AVDictionary* left = settings.release();
    const int opened =
        avformat.avformat_open_input(&opening, LocalFileOpening(file_name).c_str(), forced_input_format, &left);
    settings.reset(left);
    if (opened < 0) {
        last_error = FFmpegErrorText(file_name, opened);
        return nullptr;
    }
    return TInputContextPtr(opening);
}

bool TCustomFFmpeg::ProbeInputFile(const std::string& file_name) {
    TFormatContextPtr made(avformat.avformat_alloc_context());
    if (!made) {
        last_error = FFmpegErrorText(file_name, AVERROR(ENOMEM));
        return false;
    }
    return OpenContainer(std::move(made), file_name) != nullptr;
}

bool TCustomFFmpeg::OpenInputFile(const std::string& file_name) {
    // A failed opening resets what a successful one uses up; the seek position
    // stays for the next try.
    auto fail = [this]() {
        ForgetOpeningOptions();
        return false;
    };
    const int n = input_file_count;
    if (n >= MAX_FILES) {
        last_error = FormatText("%s: too many input files", file_name.c_str());
        return fail();
    }

    TFormatContextPtr made(avformat.avformat_alloc_context());
    if (!made) {
        last_error = FFmpegErrorText(file_name, AVERROR(ENOMEM));
        return fail();
    }

    // The codec names are checked before anything is read from the file.
    AVCodecID video_id = AV_CODEC_ID_NONE, audio_id = AV_CODEC_ID_NONE, subtitle_id = AV_CODEC_ID_NONE;
    if (!FindCodecId(video_codec_name, AVMEDIA_TYPE_VIDEO, false, video_id)) return fail();
    if (!FindCodecId(audio_codec_name, AVMEDIA_TYPE_AUDIO, false, audio_id)) return fail();

    ApplyGenericOptions(made.get(), generic_options.format_options, AV_OPT_FLAG_DECODING_PARAM);

    if (!FindCodecId(subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false, subtitle_id)) return fail();
    made->video_codec_id = image2_forced ? AV_CODEC_ID_PGMYUV : video_id;
    made->audio_codec_id = audio_id;
    made->subtitle_codec_id = subtitle_id;

    TInputFile file;
    file.context = OpenContainer(std::move(made), file_name);
    if (!file.context) return fail();
    AVFormatContext* ic = file.get();

    if (!ReadStreamInfo(ic, file_name)) return fail();
    const int64_t position = SeekToStartTime(ic);
    try {
        if (!AddInputDecoders(file, file_name)) return fail();
    } catch (...) {
        fail();
        throw;
    }
    if (ic->duration != AV_NOPTS_VALUE) {
        const int64_t duration_ms = ic->duration / 1000;
        if (duration_ms > expected_duration_ms)
            expected_duration_ms = duration_ms > INT_MAX ? INT_MAX : static_cast<int>(duration_ms);
    }

    input_ts_offsets[n] = copy_ts ? input_ts_offset : input_ts_offset - position;
    input_files[n] = std::move(file);
    // The description goes through the library's log, where the log capture picks it up.
    if (verbosity >= 0) avformat.av_dump_format(input_files[n].get(), n, file_name.c_str(), 0);
    ++input_file_count;
    ForgetOpeningOptions();
    return true;
}
