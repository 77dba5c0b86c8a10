// Output files and their streams: the container format, the stream decision,
// the encoder settings taken from the option state, and opening for writing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "binding/FFmpegLoader.h"
#include "binding/LocalName.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"
#include "core/Id3Tags.h"
#include "core/OutputPlace.h"
#include "core/SourceRecord.h"

namespace {

constexpr int QP2Lambda = FF_QP2LAMBDA;

// Filters that change the picture size cannot follow padding. The test ignores
// case and looks only at each filter's name (the text before its "=").
bool FiltersResizeFrames(const std::string& filters) {
    std::string lower = filters;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const std::string resizing = ",crop,rotate,scale,transpose,";
    size_t start = 0;
    while (start <= lower.size()) {
        size_t end = lower.find(',', start);
        if (end == std::string::npos) end = lower.size();
        std::string item = lower.substr(start, end - start);
        const std::string name = item.substr(0, item.find('='));
        if (resizing.find("," + name + ",") != std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

// The MP3, FLAC and AIFF muxers name PNG as their video codec only to carry an
// attached cover picture; that is no wish for a video stream of its own.
AVCodecID DefaultVideoCodec(const AVOutputFormat* format) {
    return format->video_codec == AV_CODEC_ID_PNG ? AV_CODEC_ID_NONE : format->video_codec;
}

// Sample aspect ratio for a display aspect over a picture size (3:4 without one).
AVRational SampleAspect(float display_aspect, int width, int height) {
    const double value = static_cast<int64_t>(width) * height != 0 ? static_cast<double>(display_aspect) * height / width
                                             : static_cast<double>(display_aspect) * 3 / 4;
    return avutil.av_d2q(value, 255);
}

// The rate-control override text: "start,end,q" groups joined by "/".
std::vector<RcOverride> ParseRcOverride(const std::string& text) {
    std::vector<RcOverride> list;
    if (text.empty()) return list;
    const char* p = text.c_str();
    while (p) {
        char* end = nullptr;
        const long start_frame = std::strtol(p, &end, 10);
        if (end == p || *end == '\0') throw FFmpegException("error parsing rc_override");
        p = end + 1;
        const long end_frame = std::strtol(p, &end, 10);
        if (end == p || *end == '\0') throw FFmpegException("error parsing rc_override");
        p = end + 1;
        const long q = std::strtol(p, &end, 10);
        RcOverride entry{};
        entry.start_frame = static_cast<int>(start_frame);
        entry.end_frame = static_cast<int>(end_frame);
        if (q > 0) {
            entry.qscale = static_cast<int>(q);
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-q / 100.0);
        }
        list.push_back(entry);
        p = std::strchr(end, '/');
        if (p) ++p;
    }
    return list;
}

// A copy the encoder context owns (it frees its matrices itself).
uint16_t* EncoderMatrix(const std::vector<uint16_t>& matrix) {
    auto* copy = static_cast<uint16_t*>(avutil.av_malloc(64 * sizeof(uint16_t)));
    if (copy)
        for (size_t i = 0; i < 64; ++i) copy[i] = i < matrix.size() ? matrix[i] : 0;
    return copy;
}

// Global quality of a quantiser (lambda units), truncated and kept in range.
int Quality(float qscale) {
    const double lambda = static_cast<double>(QP2Lambda) * qscale;
    if (!(lambda > INT_MIN)) return INT_MIN;
    if (!(lambda < INT_MAX)) return INT_MAX;
    return static_cast<int>(lambda);
}

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

bool SampleFormatListed(const AVSampleFormat* list, int format) {
    for (; *list != AV_SAMPLE_FMT_NONE; ++list)
        if (*list == format) return true;
    return false;
}

bool PixelFormatListed(const AVPixelFormat* list, int format) {
    for (; *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format) return true;
    return false;
}

// A new stream of the container with its encoder context; raises with the
// stream routines' message when either cannot be made.
// A known codec gives the context its own defaults (libx264 refuses the generic ones).
std::pair<AVStream*, TCodecContextPtr> NewStream(AVFormatContext* oc, AVMediaType type,
                                                 const AVCodec* codec = nullptr) {
    if (oc->nb_streams >= static_cast<unsigned>(MAX_STREAMS)) throw FFmpegException("Could not alloc stream");
    TCodecContextPtr enc(avcodec.avcodec_alloc_context3(codec));
    if (!enc) throw FFmpegException("Could not alloc stream");
    AVStream* st = avformat.avformat_new_stream(oc, nullptr);
    if (!st) throw FFmpegException("Could not alloc stream");
    st->id = static_cast<int>(oc->nb_streams) - 1;
    enc->codec_type = type;
    return {st, std::move(enc)};
}

// Regular files (and new names) are written under a temporary name and moved
// into place; devices and pipes are written where they are named.
bool WrittenThroughTemporaryFile(const std::string& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return false;
    return !name.empty();
}

// Opens an output for writing as a local file (see LocalName.h). The context's
// url names the file actually written: muxers open it again by that name (image
// sequences, segments, an MP4 moving its index to the front), and a temporary
// file must be the one they find. The log shows the user's name instead.
bool OpenLocalOutput(AVFormatContext* oc, const std::string& file_name) {
    avutil.av_opt_set(oc, "protocol_whitelist", LocalProtocols, 0);
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        AVDictionary* options = nullptr;
        AllowOnlyLocalFiles(&options);
        const int opened =
            avformat.avio_open2(&oc->pb, LocalFileOpening(file_name).c_str(), AVIO_FLAG_WRITE, nullptr, &options);
        avutil.av_dict_free(&options);
        if (opened < 0) return false;
    }
    avutil.av_freep(&oc->url);
    oc->url = avutil.av_strdup(LocalFileUrl(file_name).c_str());
    return oc->url != nullptr;
}

}  // namespace

// The final name must be one the file system takes, and must not be an input
// of this task under another spelling: writing it would destroy what is read.
bool TCustomFFmpeg::CheckOutputTarget(const std::string& path, std::string& refusal) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno != ENOENT) {
        refusal = FormatText("Could not open '%s': %s", path.c_str(), std::strerror(errno));
        return false;
    }
    for (int f = 0; f < input_file_count; ++f) {
        const AVFormatContext* ic = input_files[f].get();
        if (!ic || !ic->url || !IsSameFile(path, LocalFileName(ic->url))) continue;
        refusal = FormatText("'%s' is the input file '%s' itself", path.c_str(), LocalFileName(ic->url).c_str());
        return false;
    }
    return true;
}

void TCustomFFmpeg::CheckInputStreamTypes(bool& has_video, bool& has_audio, bool& has_subtitle) {
    has_video = has_audio = has_subtitle = false;
    for (int f = 0; f < input_file_count; ++f) {
        AVFormatContext* ic = input_files[f].get();
        if (!ic) continue;
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            switch (ic->streams[i]->codecpar->codec_type) {
                case AVMEDIA_TYPE_VIDEO: has_video = true; break;
                case AVMEDIA_TYPE_AUDIO: has_audio = true; break;
                case AVMEDIA_TYPE_SUBTITLE: has_subtitle = true; break;
                case AVMEDIA_TYPE_UNKNOWN:
                case AVMEDIA_TYPE_DATA:
                case AVMEDIA_TYPE_ATTACHMENT: break;
                default: throw FFmpegException("invalid codec_type of input file");
            }
        }
    }
}

TNewStream TCustomFFmpeg::StartNewStream(TOutputFile& file, int file_index, const TStreamKind& kind, bool copy,
                                          const std::function<void()>& check) {
    AVFormatContext* oc = file.get();
    TNewStream made;
    // Everything that can refuse the stream is checked before the stream is
    // added, so a refused stream leaves the file as it was; the options meant
    // for it are forgotten.
    try {
        if (!copy) {
            if (!kind.codec_name->empty()) {
                if (!FindCodecId(*kind.codec_name, kind.type, true, made.codec_id, &made.by_name))
                    throw FFmpegException(last_error);
                made.codec = made.by_name;
            } else {
                made.codec_id = avformat.av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, kind.type);
                made.codec = avcodec.avcodec_find_encoder(made.codec_id);
            }
            if (check) check();
        }
        auto [st, enc] = NewStream(oc, kind.type, kind.codec_defaults ? made.codec : nullptr);
        made.st = st;
        made.enc = std::move(enc);
    } catch (const FFmpegException&) {
        kind.codec_name->clear();
        if (kind.language) kind.language->clear();
        throw;
    }
    stream_bsf_table[file_index][made.st->index] = std::move(*kind.bsf_list);
    kind.bsf_list->clear();
    if (kind.codec_tag != 0) made.enc->codec_tag = kind.codec_tag;
    return made;
}

void TCustomFFmpeg::FinishNewStream(TOutputFile& file, TNewStream& made, bool copy) {
    file.streams.push_back(TOutputStream{std::move(made.enc), copy});
    output_encoders[output_encoder_count++] = made.by_name;
}

void TCustomFFmpeg::NewVideoStream(TOutputFile& file, int file_index) {
    const bool copy = video_stream_copy != 0;
    std::vector<RcOverride> overrides;
    const TStreamKind kind{AVMEDIA_TYPE_VIDEO, &video_codec_name, nullptr, &video_bsf_list, video_codec_tag, true};
    TNewStream made =
        StartNewStream(file, file_index, kind, copy, [&] { overrides = ParseRcOverride(rc_override_text); });
    AVFormatContext* oc = file.get();
    AVCodecContext* enc = made.enc.get();
    AVCodecContext* carrier = generic_options.codec_options[0];
    if ((global_header_mode & 1) || (global_header_mode == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (carrier) carrier->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (global_header_mode & 2) {
        enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (carrier) carrier->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
    if (copy) {
        const AVRational sar = SampleAspect(frame_aspect, frame_width, frame_height);
        made.st->sample_aspect_ratio = sar;
        enc->sample_aspect_ratio = sar;
    } else {
        SetVideoEncoderFields(*enc, *made.st, made.codec, made.codec_id, overrides);
    }
    FinishNewStream(file, made, copy);
    video_disabled = false;
    video_codec_name.clear();
    video_stream_copy = 0;
}

// The encoder's settings of a new video stream from the option values: rate,
// size with the padding, aspect, pixel format, quality and rate control.
void TCustomFFmpeg::SetVideoEncoderFields(AVCodecContext& enc, AVStream& st, const AVCodec* codec, AVCodecID codec_id,
                                          const std::vector<RcOverride>& overrides) {
    AVRational rate = frame_rate.num > 0 && frame_rate.den > 0 ? frame_rate : AVRational{25, 1};
    enc.codec_id = codec_id;
    ApplyGenericOptions(&enc, generic_options.codec_options[0], AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (codec && codec->supported_framerates && !force_fps)
        rate = codec->supported_framerates[avutil.av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc.time_base = AVRational{rate.den, rate.num};
    enc.framerate = rate;

    enc.width = ClampToInt(static_cast<int64_t>(frame_width) + pad_right + pad_left);
    enc.height = ClampToInt(static_cast<int64_t>(frame_height) + pad_top + pad_bottom);
    const AVRational sar = SampleAspect(frame_aspect, enc.width, enc.height);
    enc.sample_aspect_ratio = sar;
    st.sample_aspect_ratio = sar;

    int pix_fmt = frame_pix_fmt;
    if (codec && codec->pix_fmts && !PixelFormatListed(codec->pix_fmts, pix_fmt)) pix_fmt = codec->pix_fmts[0];
    enc.pix_fmt = static_cast<AVPixelFormat>(pix_fmt);

    if (intra_only) enc.gop_size = 0;
    if (video_qscale != 0 || same_quality) {
        enc.flags |= AV_CODEC_FLAG_QSCALE;
        enc.global_quality = Quality(video_qscale);
    }
    if (!intra_matrix.empty()) enc.intra_matrix = EncoderMatrix(intra_matrix);
    if (!inter_matrix.empty()) enc.inter_matrix = EncoderMatrix(inter_matrix);
    enc.thread_count = thread_count;
    if (!overrides.empty()) {
        auto* table = static_cast<RcOverride*>(avutil.av_malloc(overrides.size() * sizeof(RcOverride)));
        if (table) {
            std::memcpy(table, overrides.data(), overrides.size() * sizeof(RcOverride));
            enc.rc_override = table;
            enc.rc_override_count = static_cast<int>(overrides.size());
        }
    }
    if (enc.rc_initial_buffer_occupancy == 0)
        enc.rc_initial_buffer_occupancy = static_cast<int>(static_cast<int64_t>(enc.rc_buffer_size) * 3 / 4);
    enc.intra_dc_precision = intra_dc_precision - 8;
    if (psnr) enc.flags |= AV_CODEC_FLAG_PSNR;
    if (pass == 1) enc.flags |= AV_CODEC_FLAG_PASS1;
    if (pass == 2) enc.flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::NewAudioStream(TOutputFile& file, int file_index) {
    const bool copy = audio_stream_copy != 0;
    const TStreamKind kind{AVMEDIA_TYPE_AUDIO, &audio_codec_name, &audio_language, &audio_bsf_list, audio_codec_tag};
    TNewStream made = StartNewStream(file, file_index, kind, copy);
    AVFormatContext* oc = file.get();
    AVStream* st = made.st;
    AVCodecContext* enc = made.enc.get();
    AVCodecContext* carrier = generic_options.codec_options[1];
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (carrier) carrier->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    // The layout of the source goes with the stream only while it has the
    // channel count asked for; otherwise the count's usual layout is used.
    const auto set_channels = [&]() {
        avutil.av_channel_layout_uninit(&enc->ch_layout);
        const uint64_t mask = static_cast<uint64_t>(audio_channel_layout);
        if (mask != 0 && __builtin_popcountll(mask) == audio_channels)
            avutil.av_channel_layout_from_mask(&enc->ch_layout, mask);
        else
            avutil.av_channel_layout_default(&enc->ch_layout, audio_channels);
    };
    if (copy) {
        set_channels();
    } else {
        ApplyGenericOptions(enc, carrier, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        enc->codec_id = made.codec_id;
        if (audio_qscale > -99999) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = Quality(audio_qscale);
        }
        enc->thread_count = thread_count;
        set_channels();
        int sample_fmt = audio_sample_fmt;
        const AVCodec* codec = made.codec;
        if (codec && codec->sample_fmts && !SampleFormatListed(codec->sample_fmts, sample_fmt))
            sample_fmt = codec->sample_fmts[0];
        enc->sample_fmt = static_cast<AVSampleFormat>(sample_fmt);
    }
    enc->sample_rate = audio_sample_rate;
    enc->time_base = AVRational{1, audio_sample_rate};
    if (!audio_language.empty()) {
        avutil.av_dict_set(&st->metadata, "language", audio_language.c_str(), 0);
        audio_language.clear();
    }
    FinishNewStream(file, made, copy);
    audio_disabled = false;
    audio_codec_name.clear();
    audio_stream_copy = 0;
}

void TCustomFFmpeg::NewSubtitleStream(TOutputFile& file, int file_index) {
    const bool copy = subtitle_stream_copy != 0;
    const TStreamKind kind{AVMEDIA_TYPE_SUBTITLE, &subtitle_codec_name, &subtitle_language, &subtitle_bsf_list, 0};
    TNewStream made = StartNewStream(file, file_index, kind, copy);
    if (!copy) {
        // Recorded subtitle options go to the encoder like those of the other types.
        ApplyGenericOptions(made.enc.get(), generic_options.codec_options[3],
                            AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        made.enc->codec_id = made.codec_id;
    }
    if (!subtitle_language.empty()) {
        avutil.av_dict_set(&made.st->metadata, "language", subtitle_language.c_str(), 0);
        subtitle_language.clear();
    }
    FinishNewStream(file, made, copy);
    subtitle_disabled = false;
    subtitle_codec_name.clear();
    subtitle_stream_copy = 0;
}

void TCustomFFmpeg::AddVideoStream() {
    if (output_file_count == 0) throw FFmpegException("At least one output file must be specified");
    NewVideoStream(output_files[output_file_count - 1], output_file_count - 1);
}

void TCustomFFmpeg::AddAudioStream() {
    if (output_file_count == 0) throw FFmpegException("At least one output file must be specified");
    NewAudioStream(output_files[output_file_count - 1], output_file_count - 1);
}

void TCustomFFmpeg::AddSubtitleStream() {
    if (output_file_count == 0) throw FFmpegException("At least one output file must be specified");
    NewSubtitleStream(output_files[output_file_count - 1], output_file_count - 1);
}

// The output's streams as the options and the inputs ask for them; empty, or
// why a stream could not be made.
std::string TCustomFFmpeg::AddOutputStreams(TOutputFile& file, int row, const AVOutputFormat* format) {
    bool has_video = false, has_audio = false, has_subtitle = false;
    try {
        CheckInputStreamTypes(has_video, has_audio, has_subtitle);
    } catch (const FFmpegException& e) {
        return FormatText("check_audio_video_sub_inputs fail: %s", e.Message.c_str());
    }
    const bool inputs = input_file_count > 0;
    bool use_video = DefaultVideoCodec(format) != AV_CODEC_ID_NONE || video_stream_copy || !video_codec_name.empty();
    bool use_audio = format->audio_codec != AV_CODEC_ID_NONE || audio_stream_copy || !audio_codec_name.empty();
    bool use_subtitle =
        format->subtitle_codec != AV_CODEC_ID_NONE || subtitle_stream_copy || !subtitle_codec_name.empty();
    if ((inputs && !has_video) || video_disabled) use_video = false;
    if ((inputs && !has_audio) || audio_disabled) use_audio = false;
    if ((inputs && !has_subtitle) || subtitle_disabled) use_subtitle = false;

    if (use_video) {
        try {
            NewVideoStream(file, row);
        } catch (const FFmpegException& e) {
            return FormatText("new_video_stream fail: %s", e.Message.c_str());
        }
    }
    if (use_audio) {
        try {
            NewAudioStream(file, row);
        } catch (const FFmpegException& e) {
            return FormatText("new_audio_stream fail: %s", e.Message.c_str());
        }
    }
    if (use_subtitle) {
        try {
            NewSubtitleStream(file, row);
        } catch (const FFmpegException& e) {
            return FormatText("new_subtitle_stream fail: %s", e.Message.c_str());
        }
    }
    return {};
}

// The file's tags: the recording time when one is set, then the options' tags.
void TCustomFFmpeg::SetOutputMetadata(AVFormatContext* oc) {
    if (record_timestamp != 0) {
        const std::time_t seconds = static_cast<std::time_t>(record_timestamp);
        std::tm utc{};
        if (gmtime_r(&seconds, &utc)) {
            char stamp[40];
            std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
            avutil.av_dict_set(&oc->metadata, "creation_time", stamp, 0);
        }
    }
    // Set from the last tag to the first: a key given twice keeps its first value.
    for (auto it = metadata.rbegin(); it != metadata.rend(); ++it)
        avutil.av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
}

// The muxer's own settings of an opened output.
void TCustomFFmpeg::SetMuxerOptions(TOutputFile& file) {
    // Multiplied in double and truncated: 0.7 s (a float) gives 699999 us.
    file.preload = static_cast<int64_t>(static_cast<double>(mux_preload) * 1000000.0);
    file->max_delay = static_cast<int>(static_cast<double>(mux_max_delay) * 1000000.0);
    avutil.av_opt_set_int(file.get(), "preload", file.preload, AV_OPT_SEARCH_CHILDREN);
    // Unless asked for bit-exact output the library writes its own name into the
    // file as an "encoder" tag; the core's files carry only the tags given to it.
    file->flags |= AVFMT_FLAG_BITEXACT;
    if (loop_output != -1) avutil.av_opt_set_int(file.get(), "loop", loop_output, AV_OPT_SEARCH_CHILDREN);
    ApplyGenericOptions(file.get(), generic_options.format_options, AV_OPT_FLAG_ENCODING_PARAM);
}

// Crop or pad options that a filter chain would undo; none when they go together.
const char* TCustomFFmpeg::FilterOptionsRefusal() const {
    if (!video_filters.empty() && crop_top + crop_bottom + crop_left + crop_right != 0)
        return "Cannot enable crop options and filters at the same time.";
    if (pad_top + pad_bottom + pad_left + pad_right != 0 && FiltersResizeFrames(video_filters))
        return "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
               "transpose, etc.)";
    return nullptr;
}

std::string TCustomFFmpeg::MakeOutputContext(const std::string& file_name, int row, TOutputFile& file,
                                             const AVOutputFormat*& format) {
    if (const char* refusal = FilterOptionsRefusal()) return refusal;
    filters_in_use = !video_filters.empty();
    if (row >= MAX_FILES) return FormatText("%s: too many output files", file_name.c_str());

    format = forced_output_format;
    if (!format) format = avformat.av_guess_format(nullptr, file_name.c_str(), nullptr);
    if (!format) return FormatText("Unable to find a suitable output format for '%s'", file_name.c_str());
    AVFormatContext* made = nullptr;
    const int result = avformat.avformat_alloc_output_context2(&made, format, nullptr, file_name.c_str());
    if (result < 0 || !made) return FFmpegErrorText(file_name, result < 0 ? result : AVERROR(ENOMEM));
    file.context.reset(made);

    // Streams copied from a live feed server need its "ffm" format, which the
    // linked libraries no longer have: such an output cannot be made.
    if (std::strcmp(format->name, "ffm") == 0 && file_name.compare(0, 5, "http:") == 0)
        return FFmpegErrorText(file_name, AVERROR(ENOSYS));
    return AddOutputStreams(file, row, format);
}

bool TCustomFFmpeg::JudgeOutputFile(const std::string& file_name) {
    const int row = output_file_count;
    const int first_encoder = output_encoder_count;
    TOutputFile file;
    const AVOutputFormat* format = nullptr;
    last_error = MakeOutputContext(file_name, row, file, format);
    // As a failed opening leaves it: nothing of this output stays registered.
    if (row < MAX_FILES)
        for (auto& chain : stream_bsf_table[row]) chain.clear();
    for (int k = first_encoder; k < output_encoder_count; ++k) output_encoders[k] = nullptr;
    output_encoder_count = first_encoder;
    return last_error.empty();
}

bool TCustomFFmpeg::OpenOutputFile(const std::string& file_name) {
    const int row = output_file_count;
    const int first_encoder = output_encoder_count;
    // Undoes whatever this call registered; the option state keeps its values
    // except for the forced formats.
    auto fail = [&](const std::string& text) {
        last_error = text;
        if (row < MAX_FILES) {
            if (output_file_count > row) {
                output_files[row] = TOutputFile{};
                output_file_count = row;
            }
            for (auto& chain : stream_bsf_table[row]) chain.clear();
        }
        for (int k = first_encoder; k < output_encoder_count; ++k) output_encoders[k] = nullptr;
        output_encoder_count = first_encoder;
        forced_output_format = nullptr;
        forced_input_format = nullptr;
        return false;
    };

    TOutputFile file;
    const AVOutputFormat* format = nullptr;
    if (const std::string refusal = MakeOutputContext(file_name, row, file, format); !refusal.empty())
        return fail(refusal);
    AVFormatContext* oc = file.get();
    SetOutputMetadata(oc);
    // Written with the header as not finished; the end marks it (PlaceOutputFiles).
    if (!source_record.empty() && !source_tag.empty())
        avutil.av_dict_set(&oc->metadata, source_tag.c_str(), source_record.c_str(), 0);

    output_files[row] = std::move(file);
    ++output_file_count;

    if ((format->flags & AVFMT_NEEDNUMBER) && !avformat.av_filename_number_test(file_name.c_str()))
        return fail(FFmpegErrorText(file_name, AVERROR(EDOM)));
    std::string target = file_name;
    output_files[row].final_path = file_name;
    if (!(format->flags & AVFMT_NOFILE) && WrittenThroughTemporaryFile(file_name)) {
        std::string refusal;
        if (!CheckOutputTarget(file_name, refusal)) return fail(refusal);
        std::string why;
        const std::string temp = CreateTemporaryOutput(file_name, why);
        if (temp.empty()) return fail(FormatText("Could not open '%s': %s", file_name.c_str(), why.c_str()));
        output_files[row].temp_path = temp;
        output_files[row].replace = overwrite_output;
        output_files[row].keep_stopped = !discard_stopped_output;
        output_files[row].source_record = source_record;
        output_files[row].source_tag = source_tag;
        target = temp;
    }
    if (!OpenLocalOutput(oc, target)) {
        if (target != file_name) ::unlink(target.c_str());
        return fail(FormatText("Could not open '%s'", file_name.c_str()));
    }
    // The muxer parameters are checked when the header is written, once the
    // encoders are open; nothing is left to refuse here.

    SetMuxerOptions(output_files[row]);

    metadata.clear();
    source_record.clear();
    source_tag.clear();
    forced_output_format = nullptr;
    forced_input_format = nullptr;
    return true;
}

void TCustomFFmpeg::PlaceOutputFiles() {
    for (int i = 0; i < output_file_count; ++i) {
        TOutputFile& file = output_files[i];
        if (file.temp_path.empty() || !file) continue;
        // The last buffered bytes go out now; a file that lost some is no result.
        int result = 0;
        if (file->pb) {
            avformat.avio_flush(file->pb);
            result = file->pb->error;
            const int closed = avformat.avio_closep(&file.context->pb);
            if (result >= 0) result = closed;
        }
        if (result < 0) {
            write_error = result;
            throw FFmpegException(FFmpegWriteErrorText(file.final_path, result));
        }
        // The muxer's comment frame and ID3v1 text are mended for players.
        if (file->oformat && std::strcmp(file->oformat->name, "mp3") == 0) MendId3Tags(file.temp_path);
        const TMadeState made = !finished ? TMadeState::Open : EndedShort() ? TMadeState::InputShort : TMadeState::Whole;
        const bool recorded = !file.source_record.empty();
        if (recorded && !file.source_tag.empty() && made != TMadeState::Open &&
            !MarkSourceRecord(file.temp_path, file.source_record, made))
            Log(0, FormatText("'%s': the record of its input could not be completed", file.final_path.c_str()));
        // A stopped run keeps its shorter file only where it takes no one's name,
        // and not at all where a file at the name means a finished conversion.
        if (!finished && !file.keep_stopped) {
            Log(0, FormatText("'%s': the stopped conversion is not kept", file.final_path.c_str()));
            continue;
        }
        const TPlaceMode mode = !finished      ? TPlaceMode::OnlyIfFree
                                : file.replace ? TPlaceMode::Replace
                                               : TPlaceMode::KeepOrNumber;
        // Under the skip rule a finished conversion of this same input at a
        // taken name (another run of the same files) makes this one needless.
        const auto mine = ParseSourceRecord(file.source_record);
        auto same_input = [&](const std::string& taken) {
            const auto there = ReadSourceRecord(taken, file.source_tag);
            return there && MadeToTheEnd(*there) && SameSource(*there, *mine);
        };
        const bool drop_same = !file.keep_stopped && mine;
        std::string placed, why, made_there;
        if (!PlaceOutput(file.temp_path, file.final_path, mode, placed, why,
                         drop_same ? std::function<bool(const std::string&)>(same_input) : nullptr, &made_there))
            throw FFmpegException(FormatText("Could not save '%s': %s", file.final_path.c_str(), why.c_str()));
        if (recorded && file.source_tag.empty() && !placed.empty() &&
            !WriteSourceSidecar(placed, file.source_record, made))
            Log(0, FormatText("'%s': the record of its input could not be written", placed.c_str()));
        if (!made_there.empty()) {
            Log(0, FormatText("'%s' was made from the same input meanwhile: this conversion is not kept",
                              made_there.c_str()));
            if (i == 0) {
                placed_output = made_there;
                made_before = true;
            }
            file.temp_path.clear();
            continue;
        }
        if (placed.empty())
            Log(0, FormatText("'%s' exists: the stopped conversion is not kept", file.final_path.c_str()));
        else if (placed != file.final_path)
            Log(0, FormatText("'%s' was taken meanwhile: saved as '%s'", file.final_path.c_str(), placed.c_str()));
        if (i == 0) placed_output = placed;
        file.temp_path.clear();
    }
}

void TCustomFFmpeg::FreeFiles() {
    generic_options.Release();
    for (int i = 0; i < MAX_FILES; ++i) {
        TOutputFile& file = output_files[i];
        // A temporary file still here was not placed: the run failed, was
        // stopped over a taken name, or never started.
        const std::string unplaced = file.temp_path;
        file = TOutputFile{};
        if (!unplaced.empty()) ::unlink(unplaced.c_str());
        for (auto& chain : stream_bsf_table[i]) chain.clear();
    }
    output_encoders.fill(nullptr);
    output_file_count = 0;
    output_encoder_count = 0;
    for (TInputFile& file : input_files) file = TInputFile{};
    input_ts_offsets.fill(0);
    input_decoders.fill(nullptr);
    input_file_count = 0;
    input_decoder_count = 0;
    ReleaseHookState();
}
