#include "batch/Settings.h"

#include <algorithm>

#include "batch/IniFile.h"
#include "batch/OutputKinds.h"
#include "batch/OutputPlan.h"
#include "core/Conversions.h"

namespace {
const char* const Section = "Options";

// Only the exact text "True" ticks a box.
bool ReadFlag(const TIniFile& ini, const char* key, bool def) {
    return ini.ReadString(Section, key, def ? "True" : "False") == "True";
}
const char* FlagText(bool value) { return value ? "True" : "False"; }

// A value of `values`, or none ("Automatic") for anything else.
std::optional<int> ReadChoice(const TIniFile& ini, const char* key, const std::vector<int>& values) {
    const int value = ini.ReadInteger(Section, key, -1000);
    if (std::find(values.begin(), values.end(), value) == values.end()) return std::nullopt;
    return value;
}
std::string ChoiceText(const std::optional<int>& value) { return value ? std::to_string(*value) : ""; }
// Widths between 8 and 4000 pixels, separated by commas; anything else is none.
std::vector<int> ReadWidths(const std::string& text) {
    std::vector<int> widths;
    if (text.empty()) return widths;
    for (size_t start = 0; start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::optional<int> width = TryStrToInt(text.substr(start, comma - start));
        if (!width || *width < 8 || *width > 4000) return {};
        widths.push_back(*width);
        start = comma + 1;
    }
    return widths;
}

std::string WidthsText(const std::vector<int>& widths) {
    std::string text;
    for (int w : widths) text += (text.empty() ? "" : ",") + std::to_string(w);
    return text;
}

// The rule's own key first; an older file's "Overwrite" keeps its meaning.
TExistingOutputs ReadExistingOutputs(const TIniFile& ini, TExistingOutputs def) {
    if (const auto rule = ExistingOutputsNamed(ini.ReadString(Section, "ExistingOutputs"))) return *rule;
    const std::string overwrite = ini.ReadString(Section, "Overwrite");
    if (overwrite.empty()) return def;
    return overwrite == "True" ? TExistingOutputs::Replace : TExistingOutputs::Number;
}
}  // namespace

TSettings ReadSettings(const std::string& path) {
    const TIniFile ini(path);
    TSettings s;
    s.OutputPath = ini.ReadString(Section, "OutputPath");
    s.Channels = ini.ReadInteger(Section, "Channels", s.Channels);
    s.AudioBitrate = ini.ReadInteger(Section, "AudioBitrate", s.AudioBitrate);
    s.AudioSampleRate = ini.ReadInteger(Section, "AudioSampleRate", s.AudioSampleRate);
    s.ExistingOutputs = ReadExistingOutputs(ini, s.ExistingOutputs);
    s.ShutdownAfterCompleted = ReadFlag(ini, "ShutdownAfterCompleted", s.ShutdownAfterCompleted);
    s.CopyTags = ReadFlag(ini, "CopyTags", s.CopyTags);
    s.SimultaneousConversions = ini.ReadInteger(Section, "SimultaneousConversions", s.SimultaneousConversions);
    s.LastAddFolder = ini.ReadString(Section, "LastAddFolder");
    const std::string format = ini.ReadString(Section, "OutputFormat", s.OutputFormat);
    const TOutputKind* kind = OutputKindNamed(format);
    if (kind && kind->window_name[0]) s.OutputFormat = format;
    if (ini.ReadString(Section, "VideoNorm", s.VideoNorm) == "ntsc") s.VideoNorm = "ntsc";
    s.ShowPreview = ReadFlag(ini, "ShowPreview", s.ShowPreview);
    // A size that does not read is no limit.
    const auto max_picture = ParsePictureSize(ini.ReadString(Section, "MaxPictureSize"));
    if (max_picture) s.MaxPictureSize = PictureSizeText(*max_picture);
    s.OtherChannels = ini.ReadInteger(Section, "OtherChannels", s.OtherChannels);
    s.OtherAudioBitrate = ini.ReadInteger(Section, "OtherAudioBitrate", s.OtherAudioBitrate);
    s.OtherAudioSampleRate = ini.ReadInteger(Section, "OtherAudioSampleRate", s.OtherAudioSampleRate);
    s.AllAudioTracks = ReadFlag(ini, "AllAudioTracks", s.AllAudioTracks);
    s.VorbisQuality = ReadChoice(ini, "VorbisQuality", AudioMeasureValues(TAudioMeasure::Quality));
    s.FlacCompression = ReadChoice(ini, "FlacCompression", AudioMeasureValues(TAudioMeasure::Compression));
    s.OutputNextToSource = ReadFlag(ini, "OutputNextToSource", s.OutputNextToSource);
    if (const auto size = ParsePictureSize(ini.ReadString(Section, "WindowSize"))) s.WindowSize = PictureSizeText(*size);
    s.ColumnWidths = ReadWidths(ini.ReadString(Section, "ColumnWidths"));
    s.RemoveBlackBars = ReadFlag(ini, "RemoveBlackBars", s.RemoveBlackBars);
    if (const auto deinterlace = DeinterlaceNamed(ini.ReadString(Section, "Deinterlace", s.Deinterlace)))
        s.Deinterlace = DeinterlaceName(*deinterlace);
    return s;
}

void WriteSettings(const std::string& path, const TSettings& s) {
    TIniFile(path).WriteStrings(Section, {
        {"OutputPath", s.OutputPath},
        {"Channels", std::to_string(s.Channels)},
        {"AudioBitrate", std::to_string(s.AudioBitrate)},
        {"AudioSampleRate", std::to_string(s.AudioSampleRate)},
        {"Overwrite", FlagText(s.ExistingOutputs == TExistingOutputs::Replace)},
        {"ShutdownAfterCompleted", FlagText(s.ShutdownAfterCompleted)},
        {"CopyTags", FlagText(s.CopyTags)},
        {"SimultaneousConversions", std::to_string(s.SimultaneousConversions)},
        {"LastAddFolder", s.LastAddFolder},
        {"OutputFormat", s.OutputFormat},
        {"VideoNorm", s.VideoNorm},
        {"ShowPreview", FlagText(s.ShowPreview)},
        {"MaxPictureSize", s.MaxPictureSize},
        {"OtherChannels", std::to_string(s.OtherChannels)},
        {"OtherAudioBitrate", std::to_string(s.OtherAudioBitrate)},
        {"OtherAudioSampleRate", std::to_string(s.OtherAudioSampleRate)},
        {"AllAudioTracks", FlagText(s.AllAudioTracks)},
        {"VorbisQuality", ChoiceText(s.VorbisQuality)},
        {"FlacCompression", ChoiceText(s.FlacCompression)},
        {"ExistingOutputs", ExistingOutputsName(s.ExistingOutputs)},
        {"OutputNextToSource", FlagText(s.OutputNextToSource)},
        {"WindowSize", s.WindowSize},
        {"ColumnWidths", WidthsText(s.ColumnWidths)},
        {"RemoveBlackBars", FlagText(s.RemoveBlackBars)},
        {"Deinterlace", s.Deinterlace},
    });
}
