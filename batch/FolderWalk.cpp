#include "batch/FolderWalk.h"

#include "probe/LinkFile.h"

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
    Enter(folder.empty() || folder.back() == '/' ? folder : folder + "/", nullptr, first_problem_);
    has_first_problem_ = first_problem_.Problem != TReason::None;
}

TFolderWalk::~TFolderWalk() = default;

// Why an entry that could not be examined or opened is none of the walk's
// inputs, as a problem entry; false when it is left out in silence (a file
// gone between the listing of its folder and its turn whose name makes it no
// input anyway).
bool TFolderWalk::Problem(const std::string& path, int error, bool folder, TFoundFile& file) const {
    TReason reason = ReasonOfErrno(error);
    struct stat link {};
    if ((error == ENOENT || error == ELOOP) && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        reason = TReason::DanglingLink;
    else if (error == ENOENT && !folder && !IsMediaName(path) && !IsLinkFileName(path))
        return false;
    file.Path = path;
    file.Subfolder = MirroredFolder(path, base_);
    file.Problem = reason;
    file.Text = std::strerror(error);
    return true;
}

// Reads a folder's names onto the stack, unless it is left out; problem
// tells a folder that cannot be read, or not to its end. known: the folder
// as the walk examined it already, if it did.
void TFolderWalk::Enter(const std::string& folder, const struct stat* known, TFoundFile& problem) {
    const std::string named = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
    struct stat info {};
    if (known) info = *known;
    else if (::stat(folder.c_str(), &info) != 0) return void(Problem(named, errno, true, problem));
    if (has_skip_ && info.st_dev == skip_dev_ && info.st_ino == skip_ino_) return;
    if (!walked_.insert({info.st_dev, info.st_ino}).second) return;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return void(Problem(named, errno, true, problem));
    auto frame = std::make_unique<TFrame>();
    frame->folder = folder;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!Hidden(entry->d_name)) frame->names.emplace_back(entry->d_name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    // A folder that fails part way (a vanished server) is told; what it gave is walked.
    if (error != 0) Problem(named, error, true, problem);
    std::sort(frame->names.begin(), frame->names.end());
    stack_.push_back(std::move(frame));
}

bool TFolderWalk::Next(TFoundFile& file) {
    file = TFoundFile{};
    if (has_first_problem_) {
        has_first_problem_ = false;
        file = std::move(first_problem_);
        return true;
    }
    while (!stack_.empty()) {
        TFrame& frame = *stack_.back();
        if (frame.next == frame.names.size()) {
            stack_.pop_back();
            continue;
        }
        const std::string& name = frame.names[frame.next++];
        const std::string path = frame.folder + name;
        struct stat info {};
        // Links are followed: a link to a file is that file, a link to a folder that folder.
        if (::stat(path.c_str(), &info) != 0) {
            if (Problem(path, errno, false, file)) return true;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            // A folder that cannot be read, or not to its end, is told where it sorts.
            Enter(path + "/", &info, file);
            if (file.Problem != TReason::None) return true;
            continue;
        }
        const bool link = IsLinkFileName(name);
        if (!S_ISREG(info.st_mode)) {
            file.Path = path;
            file.Subfolder = MirroredFolder(path, base_);
            file.Problem = TReason::NotAFile;
            file.Text = "not a regular file";
            return true;
        }
        if (!link && !IsMediaName(name)) continue;
        if (IsOutputBesideItsSource(frame, name)) continue;
        file.Path = path;
        file.Subfolder = MirroredFolder(path, base_);
        file.Link = link;
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
