#include "engine/TaskOptions.h"

#include <cmath>
#include <ctime>

#include "core/Conversions.h"
#include "core/FFmpeg.h"
#include "core/OptionText.h"

namespace {

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

// The record's fixed-size text fields keep this many characters.
std::string Cut(const std::string& text, size_t max) { return text.size() > max ? text.substr(0, max) : text; }

const char* TargetKind(int target) {
    switch (target) {
        case 1: return "vcd";
        case 2: return "svcd";
        case 3: return "dvd";
        default: return nullptr;
    }
}

const char* TargetNormName(int norm) {
    switch (norm) {
        case 1: return "pal";
        case 2: return "ntsc";
        default: return "auto";
    }
}

}  // namespace

void ApplyInputOptions(TCustomFFmpeg& core, const TInputOptions& options) {
    DispatchOptionText(core, options.ExtOptions, true);
    if (!options.FileFormat.empty()) core.SetInputFormat(options.FileFormat);
    if (options.StartTime > 0) core.SetStartTimeUs(static_cast<int64_t>(options.StartTime) * 1000);
    if (options.ProgramID >= 0) core.SetProgramId(options.ProgramID);
}

void ApplyOutputOptions(TCustomFFmpeg& core, const TOutputOptions& o) {
    if (const char* kind = TargetKind(o.Target))
        core.SetTarget(kind, TargetNormName(o.TargetNorm), o.TargetFallbackNorm == 1 ? "pal" : "ntsc");
    DispatchOptionText(core, o.ExtOptions, true);
    if (o.ReplaceExisting) core.overwrite_output = true;
    if (o.DiscardStopped) core.discard_stopped_output = true;

    if (!o.FileFormat.empty()) core.SetOutputFormat(o.FileFormat);
    if (o.PacketSize > 0) core.SetGenericIntOption("packetsize", o.PacketSize);
    if (o.MuxRate > 0) core.SetGenericIntOption("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) core.SetMuxDelay(o.MuxDelay);
    if (o.MuxPreload > 0) core.SetMuxPreload(o.MuxPreload);
    core.SetCodecName('a', o.AudioCodec);
    core.audio_disabled = o.DisableAudio;
    if (o.AudioVolume >= 0) core.SetVolume(o.AudioVolume);
    core.SetChannels(o.AudioChannels);
    core.SetSampleRate(o.AudioSampleRate);
    if (o.AudioBitrate > 0) core.SetGenericIntOption("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0) core.SetGenericIntOption("abt", o.AudioBitrateTolerance);
    core.audio_language = o.AudioLanguage;
    core.audio_sync_method = o.AudioSync;
    core.SetCodecTag('a', o.AudioTag);
    core.SetCodecName('v', o.VideoCodec);
    core.video_disabled = o.DisableVideo;
    core.SetFrameRate(o.FrameRate);
    core.SetFrameSize(o.FrameSize);
    core.SetAspect(o.AspectRatio);
    core.SetCropTop(o.CropTop);
    core.SetCropBottom(o.CropBottom);
    core.SetCropLeft(o.CropLeft);
    core.SetCropRight(o.CropRight);
    core.SetPadTop(o.PadTop);
    core.SetPadBottom(o.PadBottom);
    core.SetPadLeft(o.PadLeft);
    core.SetPadRight(o.PadRight);
    // Colour values are plain 0xBBGGRR values here: no system colours to resolve.
    // The default 0 keeps the core's own padding black (16, 128, 128).
    if (o.PadColor != 0) core.SetPadColor(o.PadColor & 0xFFFFFF);
    // The libraries know the group-of-pictures size as "g"; "gop" would be dropped silently.
    if (o.GopSize > 0) core.SetGenericIntOption("g", o.GopSize);
    if (o.VideoBitrate > 0) core.SetGenericIntOption("vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0) core.SetGenericIntOption("maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0) core.SetGenericIntOption("minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0) core.SetGenericIntOption("bt", o.VideoBitrateTolerance);
    if (o.VideoBufSize > 0) core.SetGenericIntOption("bufsize", o.VideoBufSize);
    core.video_sync_method = o.VideoSync;
    core.SetCodecTag('v', o.VideoTag);
    if (!o.VideoFilters.empty()) core.video_filters = o.VideoFilters;
    core.subtitle_disabled = o.DisableSubtitle;
    core.subtitle_language = o.SubtitleLanguage;
    if (o.CopyTimestamps) core.copy_ts = true;
    if (o.StartTime > 0) core.SetStartTimeUs(static_cast<int64_t>(o.StartTime) * 1000);
    if (o.RecordingTime > 0) core.SetRecordingTimeMs(o.RecordingTime);
    if (o.Timestamp == 0)
        core.record_timestamp = LocalDateTimeToUnix(LocalNow(), LocalTimeZoneBias());
    else if (o.Timestamp > 0)
        core.record_timestamp = LocalDateTimeToUnix(o.Timestamp, LocalTimeZoneBias());
    if (o.Year > 0) core.AddMetadata("year", std::to_string(o.Year));
    if (o.Track > 0) core.AddMetadata("track", std::to_string(o.Track));
    if (!o.Title.empty()) core.AddMetadata("title", Cut(o.Title, 511));
    if (!o.Author.empty()) core.AddMetadata("author", Cut(o.Author, 511));
    if (!o.Copyright.empty()) core.AddMetadata("copyright", Cut(o.Copyright, 511));
    if (!o.Comment.empty()) core.AddMetadata("comment", Cut(o.Comment, 511));
    if (!o.Album.empty()) core.AddMetadata("album", Cut(o.Album, 511));
    if (!o.Genre.empty()) core.AddMetadata("genre", Cut(o.Genre, 31));
    for (const auto& [key, value] : o.Tags) core.AddMetadata(key, value);
    core.source_record = o.SourceRecord;
    core.source_tag = o.SourceTag;
    if (!o.CustomHook && !o.BeforeHook) core.SetHookRanges(ParseHookRanges(o.HookRanges));
    for (const std::string& note : o.Notes) core.Log(1, note);
}

std::vector<THookRange> ParseHookRanges(const std::string& text) {
    std::vector<THookRange> ranges;
    const std::string all = Trim(text);
    if (all.empty()) return ranges;
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t comma = all.find(',', pos);
        if (comma == std::string::npos) comma = all.size();
        const std::string item = Trim(all.substr(pos, comma - pos));
        pos = comma + 1;
        const size_t dash = item.find('-');
        if (dash == std::string::npos) continue;
        const int64_t start = TryStrToInt64(Trim(item.substr(0, dash))).value_or(-1) * 1000;
        const int64_t end = TryStrToInt64(Trim(item.substr(dash + 1))).value_or(-1) * 1000;
        if (end >= start && end >= 0) ranges.push_back({start, end});
    }
    return ranges;
}

int64_t LocalDateTimeToUnix(double days, int bias_minutes) {
    return static_cast<int64_t>(std::nearbyint((days - 25569.0 + bias_minutes / 1440.0) * 86400.0));
}

int LocalTimeZoneBias() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<int>(-local.tm_gmtoff / 60);
}

double LocalNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const double unix_seconds = static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
    return unix_seconds / 86400.0 + 25569.0 - LocalTimeZoneBias() / 1440.0;
}
