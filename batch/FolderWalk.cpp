#include "batch/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// Lower case, without the dot.
constexpr const char* kMediaExtensions[] = {
    "ra", "rm", "rmvb", "rv", "rmj", "rms",                                              // RealMedia
    "mp3", "mp2", "wav", "flac", "ogg", "oga", "opus", "m4a", "aac", "ac3", "wma", "mka", "aiff", "aif", "amr",
    "mp4", "m4v", "mkv", "webm", "avi", "mov", "wmv", "asf", "flv", "mpg", "mpeg", "vob", "ts", "m2ts", "3gp", "dv",
};

bool Hidden(const std::string& name) { return !name.empty() && name[0] == '.'; }

fs::path Absolute(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal();
}

}  // namespace

bool IsMediaName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.find('/', dot) != std::string::npos) return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return std::find(std::begin(kMediaExtensions), std::end(kMediaExtensions), extension) != std::end(kMediaExtensions);
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::string MirroredFolder(const std::string& path, const std::string& base) {
    if (base.empty()) return "";
    const fs::path relative = Absolute(path).parent_path().lexically_relative(Absolute(base));
    const std::string text = relative.generic_string();
    if (relative.empty() || text == "." ) return "";
    if (text == ".." || text.rfind("../", 0) == 0) return "";
    return text.back() == '/' ? text : text + "/";
}

// One folder being walked: its entries in name order, and how far the walk is.
struct TFolderWalk::TFrame {
    std::string folder;  // ends with "/"
    std::vector<std::string> names;
    size_t next = 0;
};

TFolderWalk::TFolderWalk(const std::string& folder, const std::string& base, const std::string& skip,
                         const std::string& outputs)
    : base_(base.empty() ? folder : base), outputs_(outputs) {
    struct stat info {};
    if (!skip.empty() && ::stat(skip.c_str(), &info) == 0) {
        has_skip_ = true;
        skip_dev_ = info.st_dev;
        skip_ino_ = info.st_ino;
    }
    Enter(folder.empty() || folder.back() == '/' ? folder : folder + "/");
}

TFolderWalk::~TFolderWalk() = default;

// Reads a folder's names onto the stack; false when it is left out or cannot be read.
bool TFolderWalk::Enter(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        problems_.push_back(folder + ": " + std::strerror(errno));
        return false;
    }
    if (has_skip_ && info.st_dev == skip_dev_ && info.st_ino == skip_ino_) return false;
    if (!walked_.insert({info.st_dev, info.st_ino}).second) return false;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        problems_.push_back(folder + ": " + std::strerror(errno));
        return false;
    }
    auto frame = std::make_unique<TFrame>();
    frame->folder = folder;
    while (const dirent* entry = ::readdir(dir))
        if (!Hidden(entry->d_name)) frame->names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(frame->names.begin(), frame->names.end());
    stack_.push_back(std::move(frame));
    return true;
}

bool TFolderWalk::Next(TFoundFile& file) {
    while (!stack_.empty()) {
        TFrame& frame = *stack_.back();
        if (frame.next == frame.names.size()) {
            stack_.pop_back();
            continue;
        }
        const std::string path = frame.folder + frame.names[frame.next++];
        struct stat info {};
        // Links are followed: a link to a file is that file, a link to a folder that folder.
        if (::stat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Enter(path + "/");
            continue;
        }
        if (!S_ISREG(info.st_mode) || !IsMediaName(path)) continue;
        if (IsOutputBesideItsSource(frame, frame.names[frame.next - 1])) continue;
        file.Path = path;
        file.Subfolder = MirroredFolder(path, base_);
        return true;
    }
    return false;
}

bool TFolderWalk::IsOutputBesideItsSource(const TFrame& frame, const std::string& name) const {
    if (outputs_.empty() || name.size() <= outputs_.size() ||
        name.compare(name.size() - outputs_.size(), outputs_.size(), outputs_) != 0)
        return false;
    std::string stem = name.substr(0, name.size() - outputs_.size());
    auto has_source = [&](const std::string& base) {
        // The names are sorted: those of the base with any extension lie together.
        const std::string prefix = base + ".";
        for (auto it = std::lower_bound(frame.names.begin(), frame.names.end(), prefix);
             it != frame.names.end() && it->compare(0, prefix.size(), prefix) == 0; ++it)
            if (*it != name && it->find('.', prefix.size()) == std::string::npos && IsMediaName(*it)) return true;
        return false;
    };
    if (has_source(stem)) return true;
    // "news(2).mp3" is the third output of a news file.
    const size_t open = stem.rfind('(');
    const bool numbered = open != std::string::npos && stem.back() == ')' && open + 2 < stem.size() &&
                          stem.find_first_not_of("0123456789", open + 1) == stem.size() - 1;
    return numbered && has_source(stem.substr(0, open));
}

uint64_t PathHash(const std::string& relative_path) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : relative_path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

bool InShard(const TShard& shard, const std::string& relative_path) {
    if (shard.Count <= 0) return true;
    return PathHash(relative_path) % static_cast<uint64_t>(shard.Count) == static_cast<uint64_t>(shard.Index);
}
