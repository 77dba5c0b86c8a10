#pragma once
// Helpers both front ends share: where the settings and outputs live, the output naming
// rule and the progress text.
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

// Appends "/" unless the text already ends with one (an empty text stays empty).
std::string IncludeTrailingSeparator(const std::string& path);

// <config home>/Ardentix/Options.ini, where the config home is $XDG_CONFIG_HOME when
// it is an absolute path and $HOME/.config otherwise; empty when neither is known.
std::string SettingsFilePath(const std::string& xdgConfigHome, const std::string& home);

// The desktop's folders for the outputs, each ending with "/".
struct TUserFolders {
    std::string Music;
    std::string Videos;
};
// XDG_MUSIC_DIR and XDG_VIDEOS_DIR of <config home>/user-dirs.dirs (the config
// home as SettingsFilePath finds it), else $HOME/Music and $HOME/Videos.
TUserFolders ReadUserFolders(const std::string& xdgConfigHome, const std::string& home);

struct TOutputKind;
// Where a kind's outputs go when the user chose no folder: the music folder
// for the audio kinds, the videos folder for the video kinds, then "Ardentix/".
std::string DefaultOutputFolder(const TUserFolders& folders, const TOutputKind& kind);

// "h:mm:ss" with two-digit minutes and seconds and at least two-digit hours, from a
// duration in microseconds (an unknown, negative one shows 00:00:00).
std::string DurationText(int64_t microseconds);

// The file name part of a path without its extension ("a.b.rmvb" gives "a.b").
std::string BaseName(const std::string& path);
// The file name part of a path with its extension.
std::string FileNamePart(const std::string& path);

// Full paths no output of a run may take (its inputs, the outputs given so
// far), kept as 64-bit hashes: a run of any size holds a few bytes a name, and
// the rare name whose hash meets another's only takes the next free name.
class TTakenNames {
public:
    TTakenNames() = default;
    TTakenNames(std::initializer_list<std::string> paths) {
        for (const std::string& path : paths) Add(path);
    }
    void Add(const std::string& path) { hashes_.insert(std::hash<std::string>{}(path)); }
    bool Has(const std::string& path) const { return hashes_.count(std::hash<std::string>{}(path)) > 0; }

private:
    std::unordered_set<size_t> hashes_;
};

// The output name (without ".mp3") for a base name in a folder: the base itself when
// overwriting or when folder+base+".mp3" is free, else base(1), base(2), ... Names in
// `taken` (full output paths already given to other files of the same run) are never
// chosen again, whatever the overwrite setting.
std::string ChooseOutputName(const std::string& folder, const std::string& base, bool overwrite,
                             const TTakenNames& taken,
                             const std::function<bool(const std::string&)>& exists,
                             const std::string& extension = ".mp3");

// An error the transcoder core raised (a refused option, a failed conversion),
// as opposed to a fault of the program or the system.
bool IsConverterError(const std::exception& error);

// A whole number as the engine's options read one (an optional sign, decimal
// digits, nothing else); none for any other text.
std::optional<int> ParseNumber(const std::string& text);

// Percentage of a run position against a total, both in milliseconds, in 0..100;
// -1 when the total is unknown (negative) or zero.
int ProgressPercent(int64_t currentMs, int64_t totalMs);

// The text of the Status column for a progress record.
std::string ProgressStatusText(int currentMs, int totalMs);
// The same for a video, with the pictures written and the pictures a second:
// "38% · Frame 1234 · 52 fps".
std::string VideoProgressStatusText(int currentMs, int totalMs, int frame, int fps);
