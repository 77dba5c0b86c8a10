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

// What an encoder takes, and what "Automatic" gives it.
struct TCodecRules {
    TAudioEncoder encoder;
    std::vector<int> rates;  // the sample rates it takes, Hz, ascending; empty: any
    int max_channels;
    int kbps_per_channel;    // the automatic bit rate; 0: it is not chosen by bit rate
    int max_kbps;
};

const TCodecRules& RulesOf(TAudioEncoder encoder) {
    using E = TAudioEncoder;
    static const std::vector<TCodecRules> rules = {
        {E::Mp3, Mp3SampleRates(), 2, 128, 320},
        // 64 kbit/s a channel keeps AAC clean for speech and music alike; Opus needs less.
        {E::Aac, {7350, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}, 8, 64, 384},
        {E::Opus, {8000, 12000, 16000, 24000, 48000}, 8, 48, 256},
        {E::Vorbis, {}, 8, 0, 0},
        {E::Flac, {}, 8, 0, 0},
        {E::Pcm, {}, 8, 0, 0},
    };
    for (const TCodecRules& r : rules)
        if (encoder == r.encoder) return r;
    static const TCodecRules any{E::Target, {}, 2, 64, 320};
    return any;
}

// The rate of `rates` nearest to hz (the higher of two as near); `unknown` for 0 or less.
int NearestRate(const std::vector<int>& rates, int hz, int unknown) {
    if (hz <= 0) return unknown;
    int best = rates.front();
    for (int rate : rates)
        if (std::abs(rate - hz) <= std::abs(best - hz)) best = rate;
    return best;
}

// The source's rate where the encoder takes it, else the lowest it takes above
// it, so that nothing of the sound is cut off; 48000 for an unknown one.
int RateKeepingTheSound(const TCodecRules& rules, int hz) {
    if (hz <= 0) return 48000;
    if (rules.rates.empty()) return hz;
    for (int rate : rules.rates)
        if (rate >= hz) return rate;
    return rules.rates.back();
}

// The sound of one output track, from the choice and its source track.
struct TTrackAudio {
    int channels = 2;
    int rate = 44100;
    int kbps = 256;  // zero for an encoder not chosen by bit rate
};

TTrackAudio PlanTrack(const TOutputKind& kind, const TAudioChoice& audio, int source_channels, int source_rate) {
    const TCodecRules& rules = RulesOf(kind.encoder);
    const bool mp3 = kind.encoder == TAudioEncoder::Mp3;
    TTrackAudio track;
    if (audio.Channels == Automatic)
        track.channels = source_channels >= 1 && source_channels <= rules.max_channels ? source_channels : 2;
    else if (audio.Channels == SameAsSource)
        track.channels = source_channels == 1 ? 1 : 2;
    else
        track.channels = audio.Channels;
    if (mp3 && (audio.SampleRate == Automatic || audio.SampleRate == SameAsSource))
        track.rate = NearestMp3Rate(source_rate);
    else if (audio.SampleRate == Automatic || audio.SampleRate == SameAsSource)
        track.rate = RateKeepingTheSound(rules, source_rate);
    else
        track.rate = RateKeepingTheSound(rules, audio.SampleRate);
    track.kbps = audio.BitrateKbps == Automatic ? std::min(rules.kbps_per_channel * track.channels, rules.max_kbps)
                                                : audio.BitrateKbps;
    if (rules.kbps_per_channel == 0) track.kbps = 0;
    return track;
}

// The source's audio streams the output carries, in file order: every one
// that can be decoded where the kind holds several, else the first.
std::vector<int> CarriedAudio(const TPlanChoice& choice, const std::vector<TProbedStream>& streams) {
    std::vector<int> carried;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i].type != TProbedStream::Audio) continue;
        if (!carried.empty() && (!choice.To.kind->audio_tracks || !choice.AllAudioTracks)) break;
        if (carried.empty() || streams[i].Decodable) carried.push_back(static_cast<int>(i));
    }
    return carried;
}

// Vorbis by quality (3, about 112 kbit/s for stereo, unless chosen), FLAC by
// its compression where one was chosen.
std::string MeasureLines(const TOutputKind& kind, const TPlanSettings& chosen) {
    if (!kind.audio_settings) return {};
    if (AudioMeasureOf(kind) == TAudioMeasure::Quality)
        return "aq=" + std::to_string(chosen.VorbisQuality.value_or(3)) + "\n";
    if (AudioMeasureOf(kind) == TAudioMeasure::Compression && chosen.FlacCompression)
        return "compression_level=" + std::to_string(*chosen.FlacCompression) + "\n";
    return {};
}

// Every track after the first is added once the file is open ("newaudio"),
// each with its own settings in front of it; the first takes the record's.
std::string FurtherTrackLines(const TOutputKind& kind, const TAudioChoice& audio,
                              const std::vector<TProbedStream>& streams, const std::vector<int>& carried) {
    std::string text;
    for (size_t k = 1; k < carried.size(); ++k) {
        const TProbedStream& s = streams[static_cast<size_t>(carried[k])];
        if (kind.audio_codec[0]) text += std::string("acodec=") + kind.audio_codec + "\n";
        if (kind.audio_settings) {
            const TTrackAudio track = PlanTrack(kind, audio, s.Channels, s.SampleRate);
            text += "ac=" + std::to_string(track.channels) + "\nar=" + std::to_string(track.rate) + "\n";
            if (track.kbps > 0) text += "ab=" + std::to_string(track.kbps * 1000) + "\n";
        }
        text += "newaudio\n";
    }
    return text;
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

// The stream's frame rate, else its average rate; 0/0 unknown.
AVRational StreamRate(const AVStream& stream) {
    if (stream.r_frame_rate.num > 0 && stream.r_frame_rate.den > 0) return stream.r_frame_rate;
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0) return stream.avg_frame_rate;
    return {0, 0};
}

const TProbedStream* FirstVideo(const std::vector<TProbedStream>& streams) {
    for (const TProbedStream& s : streams)
        if (s.type == TProbedStream::Video) return &s;
    return nullptr;
}

// Streams go to the output in file order by themselves, each to the next of
// its type. Another choice or order needs a map for every output stream, in
// the order the output makes them: the picture (of a kind that holds one), the
// first sound and subtitles as the file opens, then the further sounds and
// subtitles.
std::vector<std::string> StreamMaps(const std::vector<TProbedStream>& streams, bool pictures,
                                    const std::vector<int>& audio, const TSubtitlePlan& subtitles) {
    bool audio_in_order = true;
    size_t k = 0;
    for (size_t i = 0; i < streams.size() && k < audio.size(); ++i)
        if (streams[i].type == TProbedStream::Audio) audio_in_order &= audio[k++] == static_cast<int>(i);
    if (audio_in_order && subtitles.in_file_order) return {};
    std::vector<int> order;
    const TProbedStream* video = pictures ? FirstVideo(streams) : nullptr;
    if (video) order.push_back(static_cast<int>(video - streams.data()));
    const std::vector<int>& subs = subtitles.order;
    if (!audio.empty()) order.push_back(audio.front());
    if (!subs.empty()) order.push_back(subs.front());
    if (audio.size() > 1) order.insert(order.end(), audio.begin() + 1, audio.end());
    if (subs.size() > 1) order.insert(order.end(), subs.begin() + 1, subs.end());
    std::vector<std::string> lines;
    for (const int i : order) lines.push_back("map=0:" + std::to_string(i));
    return lines;
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

int NearestMp3Rate(int hz) { return NearestRate(Mp3SampleRates(), hz, 44100); }

TAudioMeasure AudioMeasureOf(const TOutputKind& kind) {
    if (kind.encoder == TAudioEncoder::Vorbis) return TAudioMeasure::Quality;
    if (kind.encoder == TAudioEncoder::Flac) return TAudioMeasure::Compression;
    return RulesOf(kind.encoder).kbps_per_channel > 0 ? TAudioMeasure::Bitrate : TAudioMeasure::None;
}

std::vector<int> AudioMeasureValues(TAudioMeasure measure) {
    std::vector<int> values;
    if (measure == TAudioMeasure::Quality)
        for (int q = -1; q <= 10; ++q) values.push_back(q);
    if (measure == TAudioMeasure::Compression)
        for (int c = 0; c <= 12; ++c) values.push_back(c);
    return values;
}

TAudioList AudioListOf(const TOutputKind& kind) {
    return kind.audio_settings && kind.encoder != TAudioEncoder::Mp3 ? TAudioList::Automatic : TAudioList::Mp3;
}

std::vector<std::string> ChannelItems(TAudioList list) {
    std::vector<std::string> items = {"1 Channel, Mono", "2 Channels, Stereo", "Same as source"};
    if (list == TAudioList::Automatic) items.insert(items.begin(), "Automatic");
    return items;
}

std::vector<std::string> BitrateItems(TAudioList list) {
    std::vector<std::string> items;
    if (list == TAudioList::Automatic) items.push_back("Automatic");
    for (int kbps : BitrateChoices()) items.push_back(std::to_string(kbps));
    if (list == TAudioList::Mp3)
        for (const TVbrItem& vbr : VbrItems) items.push_back(vbr.text);
    return items;
}

std::vector<std::string> SampleRateItems(TAudioList list) {
    std::vector<std::string> items;
    if (list == TAudioList::Automatic) items.push_back("Automatic");
    for (int hz : SampleRateChoices()) items.push_back(std::to_string(hz));
    items.push_back("Same as source");
    return items;
}

TAudioChoice AudioChoiceOf(int channelItem, int bitrateItem, int sampleRateItem, TAudioList list) {
    if (list == TAudioList::Automatic) {
        // "Automatic" first, then the MP3 record's items; anything else is automatic.
        const bool constant = bitrateItem >= 1 && static_cast<size_t>(bitrateItem) <= BitrateChoices().size();
        const TAudioChoice chosen = AudioChoiceOf(channelItem - 1, bitrateItem - 1, sampleRateItem - 1);
        return {InRange(channelItem - 1, ChannelItems().size()) ? chosen.Channels : Automatic,
                InRange(sampleRateItem - 1, SampleRateItems().size()) ? chosen.SampleRate : Automatic,
                constant ? chosen.BitrateKbps : Automatic, -1};
    }
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
            facts.Streams.push_back(TProbedStream{StreamType(par), par->width, par->height, sar.num, sar.den,
                                                  par->ch_layout.nb_channels, par->sample_rate,
                                                  avcodec.avcodec_find_decoder(par->codec_id) != nullptr,
                                                  StreamRate(*stream).num, StreamRate(*stream).den});
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
    const TAudioChoice& audio = AudioListOf(kind) == TAudioList::Automatic ? choice.OtherAudio : choice.Audio;
    // Quality-based MP3 is LAME's own scale; the other encoders keep the bit rate.
    const bool vbr = audio.VbrLevel >= 0 && kind.encoder == TAudioEncoder::Mp3;
    TOutputOptions output;
    output.FileExt = kind.extension;
    output.FileFormat = kind.format;
    output.VideoCodec = kind.video_codec;
    output.AudioCodec = kind.audio_codec;
    if (kind.audio_settings) {
        const TTrackAudio track = PlanTrack(kind, audio, source.Channels, source.SampleRate);
        output.AudioChannels = track.channels;
        output.AudioSampleRate = track.rate;
        if (!vbr && track.kbps > 0) output.AudioBitrate = track.kbps * 1000;
    }
    const std::vector<int> carried = CarriedAudio(choice, source.Streams);
    // A container's own default codecs would add a picture or subtitles the
    // kind does not hold (H.264 in an .m4a, Theora in an .ogg): what the kind
    // does not carry is turned off.
    output.DisableVideo = !CarriesPictures(kind);
    const TSubtitlePlan subtitles = PlanSubtitles(kind, source.Streams, choice.Subtitles);
    output.DisableSubtitle = subtitles.carried == 0;
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
    output.ReplaceExisting = choice.Existing == TExistingOutputs::Replace;
    // A shorter file at the name would pass for a finished one on the next run.
    output.DiscardStopped = choice.Existing == TExistingOutputs::Skip;
    output.Timestamp = 0.0;
    if (choice.CopyTags) output.Tags = MapTags(source.Tags);
    std::string text;
    for (const std::string& line : OutputKindOptions(PlannedTarget(choice, source))) text += line + "\n";
    if (vbr) text += "aq=" + std::to_string(audio.VbrLevel) + "\n";
    text += MeasureLines(kind, choice);
    for (const std::string& line : pictures.Options) text += line + "\n";
    for (const std::string& line : choice.Options) text += line + "\n";
    for (const std::string& line : StreamMaps(source.Streams, !output.DisableVideo, carried, subtitles)) text += line + "\n";
    // Last: these add streams once the file is open, sound before subtitles.
    text += FurtherTrackLines(kind, audio, source.Streams, carried);
    for (const std::string& line : subtitles.options) text += line + "\n";
    output.ExtOptions = text;
    return output;
}
