#include "batch/Settings.h"

#include "batch/IniFile.h"
#include "batch/OutputKinds.h"
#include "batch/OutputPlan.h"

namespace {
const char* const Section = "Options";

// Only the exact text "True" ticks a box.
bool ReadFlag(const TIniFile& ini, const char* key, bool def) {
    return ini.ReadString(Section, key, def ? "True" : "False") == "True";
}
const char* FlagText(bool value) { return value ? "True" : "False"; }
}  // namespace

TSettings ReadSettings(const std::string& path) {
    const TIniFile ini(path);
    TSettings s;
    s.OutputPath = ini.ReadString(Section, "OutputPath");
    s.Channels = ini.ReadInteger(Section, "Channels", s.Channels);
    s.AudioBitrate = ini.ReadInteger(Section, "AudioBitrate", s.AudioBitrate);
    s.AudioSampleRate = ini.ReadInteger(Section, "AudioSampleRate", s.AudioSampleRate);
    s.Overwrite = ReadFlag(ini, "Overwrite", s.Overwrite);
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
        {"Overwrite", FlagText(s.Overwrite)},
        {"ShutdownAfterCompleted", FlagText(s.ShutdownAfterCompleted)},
        {"CopyTags", FlagText(s.CopyTags)},
        {"SimultaneousConversions", std::to_string(s.SimultaneousConversions)},
        {"LastAddFolder", s.LastAddFolder},
        {"OutputFormat", s.OutputFormat},
        {"VideoNorm", s.VideoNorm},
        {"ShowPreview", FlagText(s.ShowPreview)},
        {"MaxPictureSize", s.MaxPictureSize},
        {"RemoveBlackBars", FlagText(s.RemoveBlackBars)},
        {"Deinterlace", s.Deinterlace},
    });
}
