#include "batch/OutputPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include "binding/Entries.h"
#include "probe/AVProbe.h"

namespace {

// Named qualities of the window, with their LAME level.
struct TVbrItem {
    const char* text;
    int level;
};
constexpr TVbrItem VbrItems[] = {{"VBR high", 0}, {"VBR standard", 2}, {"VBR small", 6}};

constexpr int DefaultChannelItem = 1;
constexpr int DefaultBitrateItem = 11;
constexpr int DefaultSampleRateItem = 4;

bool InRange(int index, size_t size) { return index >= 0 && static_cast<size_t>(index) < size; }

int PlannedChannels(const TAudioChoice& audio, const TSourceFacts& source) {
    if (audio.Channels != SameAsSource) return audio.Channels;
    return source.Channels == 1 ? 1 : 2;
}

int PlannedSampleRate(const TAudioChoice& audio, const TSourceFacts& source) {
    return audio.SampleRate == SameAsSource ? NearestMp3Rate(source.SampleRate) : audio.SampleRate;
}

// Bitmap subtitles are those Matroska holds as they are.
TProbedStream::TType StreamType(const AVCodecParameters* par) {
    switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO: return TProbedStream::Video;
        case AVMEDIA_TYPE_AUDIO: return TProbedStream::Audio;
        case AVMEDIA_TYPE_SUBTITLE: break;
        default: return TProbedStream::Other;
    }
    if (par->codec_id == AV_CODEC_ID_DVB_SUBTITLE || par->codec_id == AV_CODEC_ID_DVD_SUBTITLE ||
        par->codec_id == AV_CODEC_ID_HDMV_PGS_SUBTITLE)
        return TProbedStream::BitmapSubtitle;
    const AVCodecDescriptor* desc = avcodec.avcodec_descriptor_get(par->codec_id);
    return desc && (desc->props & AV_CODEC_PROP_TEXT_SUB) ? TProbedStream::TextSubtitle : TProbedStream::Other;
}

// The even number nearest to x, at least 2 and at most `limit` (even sizes suit H.264's 4:2:0).
int EvenWithin(double x, int limit) {
    const int even = static_cast<int>(std::lround(x / 2)) * 2;
    return std::clamp(even, 2, std::max(2, limit - limit % 2));
}

// A picture's display aspect: its width times the pixel aspect to its height.
struct TShownAspect {
    int64_t num = 1, den = 1;
    std::string Text() const {
        const int64_t g = std::gcd(num, den);
        return std::to_string(num / g) + ":" + std::to_string(den / g);
    }
};
TShownAspect ShownAspect(const TProbedStream& video) {
    const bool square = video.SampleAspectNum <= 0 || video.SampleAspectDen <= 0;
    return {static_cast<int64_t>(video.Width) * (square ? 1 : video.SampleAspectNum),
            static_cast<int64_t>(video.Height) * (square ? 1 : video.SampleAspectDen)};
}

const TProbedStream* FirstVideo(const std::vector<TProbedStream>& streams) {
    for (const TProbedStream& s : streams)
        if (s.type == TProbedStream::Video) return &s;
    return nullptr;
}

}  // namespace

std::optional<TPictureSize> ParsePictureSize(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size()) return std::nullopt;
    if (text.find_first_not_of("0123456789x") != std::string::npos || text.find('x', x + 1) != std::string::npos)
        return std::nullopt;
    if (x > 5 || text.size() - x - 1 > 5) return std::nullopt;  // beyond any picture, and beyond int
    const TPictureSize size{std::stoi(text.substr(0, x)), std::stoi(text.substr(x + 1))};
    if (size.Width < 2 || size.Height < 2) return std::nullopt;
    return size;
}

std::string PictureSizeText(TPictureSize size) {
    if (size.Width <= 0 || size.Height <= 0) return {};
    return std::to_string(size.Width) + "x" + std::to_string(size.Height);
}

const std::vector<TPictureSize>& MaxPictureChoices() {
    static const std::vector<TPictureSize> list = {{0, 0}, {1920, 1080}, {1280, 720}, {854, 480}, {640, 360}};
    return list;
}

std::optional<TScaledPicture> LimitPicture(const TProbedStream& video, TPictureSize box) {
    if (box.Width <= 0 || box.Height <= 0 || video.Width <= 0 || video.Height <= 0) return std::nullopt;
    const TShownAspect shown = ShownAspect(video);
    const double shown_width = static_cast<double>(shown.num) / static_cast<double>(shown.den) * video.Height;
    if (std::lround(shown_width) <= box.Width && video.Height <= box.Height) return std::nullopt;
    const double scale = std::min(box.Width / shown_width, static_cast<double>(box.Height) / video.Height);
    return TScaledPicture{{EvenWithin(shown_width * scale, box.Width), EvenWithin(video.Height * scale, box.Height)},
                          shown.Text()};
}

const std::vector<int>& BitrateChoices() {
    static const std::vector<int> list = {16, 32, 48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 288, 320};
    return list;
}

const std::vector<int>& SampleRateChoices() {
    static const std::vector<int> list = {8000, 16000, 22050, 32000, 44100, 48000};
    return list;
}

const std::vector<int>& Mp3SampleRates() {
    static const std::vector<int> list = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return list;
}

int NearestMp3Rate(int hz) {
    if (hz <= 0) return 44100;
    int best = Mp3SampleRates().front();
    for (int rate : Mp3SampleRates())
        if (std::abs(rate - hz) <= std::abs(best - hz)) best = rate;
    return best;
}

std::vector<std::string> ChannelItems() { return {"1 Channel, Mono", "2 Channels, Stereo", "Same as source"}; }

std::vector<std::string> BitrateItems() {
    std::vector<std::string> items;
    for (int kbps : BitrateChoices()) items.push_back(std::to_string(kbps));
    for (const TVbrItem& vbr : VbrItems) items.push_back(vbr.text);
    return items;
}

std::vector<std::string> SampleRateItems() {
    std::vector<std::string> items;
    for (int hz : SampleRateChoices()) items.push_back(std::to_string(hz));
    items.push_back("Same as source");
    return items;
}

TAudioChoice AudioChoiceOf(int channelItem, int bitrateItem, int sampleRateItem) {
    TAudioChoice audio;
    if (!InRange(channelItem, ChannelItems().size())) channelItem = DefaultChannelItem;
    audio.Channels = channelItem == 2 ? SameAsSource : channelItem + 1;
    const size_t constant = BitrateChoices().size();
    if (!InRange(bitrateItem, constant + std::size(VbrItems))) bitrateItem = DefaultBitrateItem;
    if (static_cast<size_t>(bitrateItem) < constant)
        audio.BitrateKbps = BitrateChoices()[static_cast<size_t>(bitrateItem)];
    else
        audio.VbrLevel = VbrItems[static_cast<size_t>(bitrateItem) - constant].level;
    if (!InRange(sampleRateItem, SampleRateChoices().size() + 1)) sampleRateItem = DefaultSampleRateItem;
    const size_t rate = static_cast<size_t>(sampleRateItem);
    audio.SampleRate = rate < SampleRateChoices().size() ? SampleRateChoices()[rate] : SameAsSource;
    return audio;
}

TSourceFacts SourceFacts(const TCustomAVProbe& probe) {
    TSourceFacts facts;
    facts.SampleRate = probe.AudioSampleRate();
    facts.Channels = probe.AudioChannels();
    facts.Tags = probe.Tags();
    facts.VideoStreams = probe.VideoStreamCount();
    if (const AVFormatContext* ctx = probe.FormatContext())
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVStream* stream = ctx->streams[i];
            const AVCodecParameters* par = stream->codecpar;
            // The codec's pixel aspect, else the container's.
            const AVRational sar = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio
                                                                    : stream->sample_aspect_ratio;
            facts.Streams.push_back(TProbedStream{StreamType(par), par->width, par->height, sar.num, sar.den});
        }
    return facts;
}

std::string PlanRefusal(const TPlanChoice& choice, const TSourceFacts& source) {
    if (choice.To.kind->needs_video && source.VideoStreams == 0)
        return std::string("has no video stream to write as ") + choice.To.kind->name;
    return {};
}

TOutputOptions PlanOutput(const TPlanChoice& choice, const TSourceFacts& source) {
    const TOutputKind& kind = *choice.To.kind;
    // Quality-based MP3 is LAME's own scale; the other encoders keep the bit rate.
    const bool vbr = choice.Audio.VbrLevel >= 0 && std::string(kind.audio_codec) == "libmp3lame";
    TOutputOptions output;
    output.FileExt = kind.extension;
    output.FileFormat = kind.format;
    output.VideoCodec = kind.video_codec;
    output.AudioCodec = kind.audio_codec;
    if (kind.audio_settings) {
        output.AudioChannels = PlannedChannels(choice.Audio, source);
        output.AudioSampleRate = PlannedSampleRate(choice.Audio, source);
        if (!vbr) output.AudioBitrate = choice.Audio.BitrateKbps * 1000;
    }
    // Video kinds carry the subtitle streams their container holds.
    const TSubtitlePlan subtitles = PlanSubtitles(kind, source.Streams, choice.Subtitles);
    output.DisableSubtitle = kind.needs_video && subtitles.carried == 0;
    const TPicturePlan pictures = PlanPictures(choice, source);
    const TProbedStream* video = FirstVideo(source.Streams);
    if (kind.size_limit && video) {
        // The size limit and the display aspect are those of the picture the crop leaves.
        const TProbedStream shown = pictures.Cropped(*video);
        if (const auto scaled = LimitPicture(shown, choice.MaxPicture)) {
            output.FrameSize = PictureSizeText(scaled->Size);
            output.AspectRatio = scaled->Aspect;
        } else if (shown.Width != video->Width || shown.Height != video->Height) {
            output.AspectRatio = ShownAspect(shown).Text();
        }
    }
    output.Notes = pictures.Notes;
    output.Timestamp = 0.0;
    if (choice.CopyTags) output.Tags = MapTags(source.Tags);
    std::string text;
    for (const std::string& line : OutputKindOptions(choice.To)) text += line + "\n";
    if (vbr) text += "aq=" + std::to_string(choice.Audio.VbrLevel) + "\n";
    for (const std::string& line : pictures.Options) text += line + "\n";
    for (const std::string& line : choice.Options) text += line + "\n";
    if (choice.Overwrite) text += "y\n";
    // Last: some of them add streams once the file is open.
    for (const std::string& line : subtitles.options) text += line + "\n";
    output.ExtOptions = text;
    return output;
}
