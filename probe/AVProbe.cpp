#include "probe/AVProbe.h"

#include <sys/stat.h>

#include <cstring>

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"
#include "binding/LocalName.h"

namespace {

void CopyTag(const AVDictionary* dict, std::initializer_list<const char*> keys, char* dst, size_t size) {
    std::memset(dst, 0, size);
    for (const char* key : keys) {
        if (const AVDictionaryEntry* e = avutil.av_dict_get(dict, key, nullptr, 0)) {
            avutil.av_strlcpy(dst, e->value, size);
            return;
        }
    }
}

// The leading number of a tag such as "2009-05-01" or "3/12"; -1 without one.
int32_t NumberTag(const AVDictionary* dict, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        if (const AVDictionaryEntry* e = avutil.av_dict_get(dict, key, nullptr, 0)) {
            char* end = nullptr;
            long v = myutil.strtol(e->value, &end, 10);
            if (end != e->value && v >= INT32_MIN && v <= INT32_MAX) return static_cast<int32_t>(v);
        }
    }
    return -1;
}

// Without the libraries there is no log to write to, and nothing is raised.
void LogNotLoaded() {
    if (avutil.av_log) avutil.av_log(nullptr, AV_LOG_ERROR, "file not loaded.\n");
}

int64_t KnownOrMinusOne(int64_t v) { return v == AV_NOPTS_VALUE ? -1 : v; }

}  // namespace

TCustomAVProbe::TCustomAVProbe() { Count(); }

TCustomAVProbe::~TCustomAVProbe() {
    // An owned context needs the libraries to close; without them there is nothing we can do.
    if (FormatContext_ && OwnsContext_ && FFmpegLoader().LibLoaded(TFFmpegLib::avformat)) Close();
}

void TCustomAVProbe::CheckLibraries() {
    auto& loader = FFmpegLoader();
    if (!loader.LibLoaded(TFFmpegLib::avcodec)) throw Exception("LibAVCodec not loaded.");
    if (!loader.LibLoaded(TFFmpegLib::avformat)) throw Exception("LibAVFormat not loaded.");
    if (!loader.LibLoaded(TFFmpegLib::avutil)) throw Exception("LibAVUtil not loaded.");
    if (!loader.LibLoaded(TFFmpegLib::swscale)) throw Exception("LibSwScale not loaded.");
}

bool TCustomAVProbe::Open(const std::string& FileName, const std::string& FormatName) {
    CheckLibraries();
    Close();
    const AVInputFormat* format = nullptr;
    if (!FormatName.empty()) {
        format = avformat.av_find_input_format(FormatName.c_str());
        if (!format) {
            LastError_ = "Unknown input format: " + FormatName;
            return false;
        }
    }
    AVFormatContext* ctx = avformat.avformat_alloc_context();
    if (!ctx) {
        LastError_ = FFmpegErrorText(FileName, AVERROR(ENOMEM));
        return false;
    }
    // On failure the library frees the context itself.
    AVDictionary* options = nullptr;
    AllowOnlyLocalFiles(&options);
    int ret = avformat.avformat_open_input(&ctx, LocalFileOpening(FileName).c_str(), format, &options);
    avutil.av_dict_free(&options);
    if (ret < 0) {
        LastError_ = FFmpegErrorText(FileName, ret);
        return false;
    }
    FormatContext_ = ctx;
    OwnsContext_ = true;
    if (avformat.avformat_find_stream_info(ctx, nullptr) < 0) {
        LastError_ = FileName + ": could not find codec parameters";
        Close();
        return false;
    }
    Count();
    FormatName_ = FormatName;
    return true;
}

void TCustomAVProbe::Attach(AVFormatContext* context) {
    CheckLibraries();
    Close();
    OwnsContext_ = false;
    FormatContext_ = context;
    Count();
}

void TCustomAVProbe::Close() {
    FormatName_.clear();
    if (FormatContext_) {
        if (OwnsContext_) avformat.avformat_close_input(&FormatContext_);
        FormatContext_ = nullptr;
    }
    OwnsContext_ = false;
    Count();
}

void TCustomAVProbe::Count() {
    StreamCount_ = ProgramCount_ = AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = -1;
    FirstAudioStream_ = FirstVideoStream_ = FirstSubtitleStream_ = -1;
    if (!FormatContext_) return;
    StreamCount_ = static_cast<int32_t>(FormatContext_->nb_streams);
    ProgramCount_ = static_cast<int32_t>(FormatContext_->nb_programs);
    AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = 0;
    for (unsigned i = 0; i < FormatContext_->nb_streams; ++i) {
        const AVCodecParameters* par = FormatContext_->streams[i]->codecpar;
        auto tally = [i](int32_t& count, int32_t& first) {
            ++count;
            if (first < 0) first = static_cast<int32_t>(i);
        };
        switch (par->codec_type) {
            case AVMEDIA_TYPE_VIDEO: tally(VideoStreamCount_, FirstVideoStream_); break;
            case AVMEDIA_TYPE_AUDIO: tally(AudioStreamCount_, FirstAudioStream_); break;
            case AVMEDIA_TYPE_SUBTITLE: tally(SubtitleStreamCount_, FirstSubtitleStream_); break;
            default: break;
        }
    }
}

void TCustomAVProbe::GetFileInfo(TAVFileInfo& info) const {
    info = TAVFileInfo{};
    if (!FormatContext_) {
        LogNotLoaded();
        return;
    }
    const AVFormatContext* ctx = FormatContext_;
    info.StartTime = KnownOrMinusOne(ctx->start_time);
    info.Duration = KnownOrMinusOne(ctx->duration);
    info.BitRate = ctx->bit_rate > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ctx->bit_rate);
    info.timestamp = 0;
    if (const AVDictionaryEntry* e = avutil.av_dict_get(ctx->metadata, "creation_time", nullptr, 0)) {
        int64_t t = 0;
        if (avutil.av_parse_time(&t, e->value, 0) == 0) info.timestamp = t;
    }
    CopyTag(ctx->metadata, {"title"}, info.title, sizeof info.title);
    CopyTag(ctx->metadata, {"author", "artist"}, info.author, sizeof info.author);
    CopyTag(ctx->metadata, {"copyright"}, info.copyright, sizeof info.copyright);
    CopyTag(ctx->metadata, {"comment"}, info.comment, sizeof info.comment);
    CopyTag(ctx->metadata, {"album"}, info.album, sizeof info.album);
    CopyTag(ctx->metadata, {"genre"}, info.genre, sizeof info.genre);
    info.year = NumberTag(ctx->metadata, {"year", "date"});
    info.track = NumberTag(ctx->metadata, {"track"});
}

std::vector<std::pair<std::string, std::string>> TCustomAVProbe::Tags() const {
    std::vector<std::pair<std::string, std::string>> tags;
    if (!FormatContext_) return tags;
    auto add = [&](const AVDictionary* dict) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = avutil.av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) tags.emplace_back(e->key, e->value);
    };
    add(FormatContext_->metadata);
    if (FirstAudioStream_ >= 0) add(FormatContext_->streams[FirstAudioStream_]->metadata);
    return tags;
}

int32_t TCustomAVProbe::AudioSampleRate() const {
    if (!FormatContext_ || FirstAudioStream_ < 0) return -1;
    const int rate = FormatContext_->streams[FirstAudioStream_]->codecpar->sample_rate;
    return rate > 0 ? rate : -1;
}

int32_t TCustomAVProbe::AudioChannels() const {
    if (!FormatContext_ || FirstAudioStream_ < 0) return -1;
    const int channels = FormatContext_->streams[FirstAudioStream_]->codecpar->ch_layout.nb_channels;
    return channels > 0 ? channels : -1;
}

std::string TCustomAVProbe::ContainerName() const {
    if (!FormatContext_ || !FormatContext_->iformat) return {};
    const AVInputFormat* format = FormatContext_->iformat;
    return std::string(format->name) + (format->long_name ? std::string(" (") + format->long_name + ")" : "");
}

int64_t TCustomAVProbe::GetFileSize() const {
    if (!FormatContext_) {
        LogNotLoaded();
        return -1;
    }
    int64_t size = FormatContext_->pb ? avformat.avio_size(FormatContext_->pb) : 0;
    if (size > 0) return size;
    // The file system's size, in full: files over 2 GiB are common for video.
    struct stat st {};
    if (FormatContext_->url && ::stat(LocalFileName(FormatContext_->url).c_str(), &st) == 0) return st.st_size;
    return size;
}
