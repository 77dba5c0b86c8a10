#include "batch/General.h"

#include <algorithm>
#include <fstream>

#include "batch/OutputKinds.h"
#include "core/Conversions.h"
#include "core/FFmpegException.h"
#include "core/OutputPlace.h"

namespace {

// The config home: $XDG_CONFIG_HOME when absolute, else $HOME/.config; empty when neither is known.
std::string ConfigHome(const std::string& xdgConfigHome, const std::string& home) {
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') return xdgConfigHome;
    return home.empty() ? std::string() : IncludeTrailingSeparator(home) + ".config";
}

// A line 'KEY="$HOME/Music"' of user-dirs.dirs: the folder, or empty when it names none.
std::string UserDirValue(const std::string& line, const std::string& key, const std::string& home) {
    if (line.rfind(key + "=", 0) != 0) return {};
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return !value.empty() && value.front() == '/' ? IncludeTrailingSeparator(value) : std::string();
}

}  // namespace

std::string IncludeTrailingSeparator(const std::string& path) {
    if (path.empty() || path.back() == '/') return path;
    return path + "/";
}

std::string SettingsFilePath(const std::string& xdgConfigHome, const std::string& home) {
    const std::string base = ConfigHome(xdgConfigHome, home);
    return base.empty() ? std::string() : IncludeTrailingSeparator(base) + "Ardentix/Options.ini";
}

TUserFolders ReadUserFolders(const std::string& xdgConfigHome, const std::string& home) {
    const std::string base = home.empty() ? std::string("./") : IncludeTrailingSeparator(home);
    TUserFolders folders{base + "Music/", base + "Videos/"};
    const std::string config = ConfigHome(xdgConfigHome, home);
    if (config.empty()) return folders;
    std::ifstream dirs(IncludeTrailingSeparator(config) + "user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
        if (const std::string music = UserDirValue(line, "XDG_MUSIC_DIR", home); !music.empty()) folders.Music = music;
        if (const std::string videos = UserDirValue(line, "XDG_VIDEOS_DIR", home); !videos.empty())
            folders.Videos = videos;
    }
    return folders;
}

std::string DefaultOutputFolder(const TUserFolders& folders, const TOutputKind& kind) {
    return (kind.needs_video ? folders.Videos : folders.Music) + "Ardentix/";
}

std::string DurationText(int64_t microseconds) {
    const int64_t s = std::max<int64_t>(0, microseconds / 1000000);
    const int64_t h = s / 3600;
    const int64_t m = (s - 3600 * h) / 60;
    const int64_t r = s - 3600 * h - 60 * m;
    auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return two(h) + ":" + two(m) + ":" + two(r);
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BaseName(const std::string& path) {
    const std::string name = FileNamePart(path);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ChooseOutputName(const std::string& folder, const std::string& base, bool overwrite,
                             const TTakenNames& taken,
                             const std::function<bool(const std::string&)>& exists,
                             const std::string& extension) {
    auto usable = [&](const std::string& name) {
        const std::string full = folder + name + extension;
        return !taken.Has(full) && (overwrite || !exists(full));
    };
    if (usable(base)) return base;
    for (int n = 1;; ++n) {
        const std::string name = NumberedName(base, n);
        if (usable(name)) return name;
    }
}

std::optional<int> ParseNumber(const std::string& text) { return TryStrToInt(text); }

bool IsConverterError(const std::exception& error) { return dynamic_cast<const FFmpegException*>(&error) != nullptr; }

int ProgressPercent(int64_t currentMs, int64_t totalMs) {
    if (totalMs <= 0) return -1;
    const int64_t pct = std::max<int64_t>(0, currentMs) * 100 / totalMs;
    return static_cast<int>(std::min<int64_t>(pct, 100));
}

std::string ProgressStatusText(int currentMs, int totalMs) {
    const int pct = ProgressPercent(currentMs, totalMs);
    // Without a known length the position is all there is to show.
    if (pct < 0) return DurationText(static_cast<int64_t>(std::max(0, currentMs)) * 1000) + " Converted";
    return std::to_string(pct) + "% Completed";
}

std::string VideoProgressStatusText(int currentMs, int totalMs, int frame, int fps) {
    // Short enough for the column: the percentage alone, or the time converted.
    const int pct = ProgressPercent(currentMs, totalMs);
    const std::string where = pct < 0 ? ProgressStatusText(currentMs, totalMs) : std::to_string(pct) + "%";
    return where + " \u00b7 Frame " + std::to_string(frame) + " \u00b7 " + std::to_string(fps) + " fps";
}
