#include "core/OutputPlace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "core/FormatText.h"

namespace {

const std::string TempPrefix = ".ardx-";
constexpr size_t PidDigits = 10;
constexpr size_t CounterDigits = 8;
constexpr size_t PidAndCounterLength = PidDigits + 1 + CounterDigits;
constexpr size_t HostTagMost = 24;

std::atomic<unsigned> g_temp_counter{0};

std::string SystemReason(int error) { return std::generic_category().message(error); }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The extension of the file name part, dot included; empty when it has none.
std::string ExtensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= start) return {};
    return path.substr(dot);
}

// This machine's name as temporary names carry it: letters, digits, "." and
// "-" kept, anything else "_"; a name longer than HostTagMost keeps its start
// and ends with "~" and 8 hex digits of a hash of the whole (FNV-1a, 32 bits).
std::string MakeHostTag() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
    std::string tag;
    uint32_t hash = 2166136261u;
    for (const char* c = name; *c; ++c) {
        const bool plain = std::isalnum(static_cast<unsigned char>(*c)) || *c == '.' || *c == '-';
        tag += plain && static_cast<unsigned char>(*c) < 0x80 ? *c : '_';
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    if (tag.size() <= HostTagMost) return tag;
    return tag.substr(0, HostTagMost - 9) + FormatText("~%08x", hash);
}

bool AllOf(const std::string& text, size_t from, size_t count, const char* digits) {
    if (text.size() < from + count) return false;
    for (size_t i = from; i < from + count; ++i)
        if (std::string_view(digits).find(text[i]) == std::string_view::npos) return false;
    return true;
}

int SystemRenameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

std::atomic<int (*)(const char*, const char*)> g_rename_noreplace{SystemRenameNoReplace};
std::atomic<int (*)(const char*, const char*)> g_link{::link};

// Whether from is linked at to: over NFS a link can report failure after the
// server made it (a lost reply to a repeated request), so the link count says.
bool LinkedAt(const std::string& from, const std::string& to) {
    struct stat source {}, target {};
    if (::stat(from.c_str(), &source) != 0 || source.st_nlink < 2) return false;
    return ::stat(to.c_str(), &target) == 0 && target.st_dev == source.st_dev && target.st_ino == source.st_ino;
}

// A rename that fails with EEXIST rather than replace the target. Falls back on
// a hard link where the file system has no such rename (NFS), and on a look
// first where it has no hard links either.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (g_rename_noreplace.load()(from.c_str(), to.c_str()) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    const int linked = g_link.load()(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (linked == 0 || LinkedAt(from, to)) {
        ::unlink(from.c_str());
        return 0;
    }
    errno = linked;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The bytes reach the disk before the name does, so a crash cannot leave a
// renamed but empty file.
int SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot sync; that is no reason to lose the conversion.
    return result == EINVAL || result == EROFS ? 0 : result;
}

}  // namespace

std::string CreateTemporaryOutput(const std::string& final_path, std::string& why) {
    const std::string folder = FolderOf(final_path);
    const std::string extension = ExtensionOf(final_path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder + TempPrefix + ThisHostTag() + "-" +
                                 FormatText("%010ld-%08x", static_cast<long>(::getpid()), g_temp_counter.fetch_add(1)) +
                                 extension;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            why = SystemReason(errno);
            return {};
        }
    }
    why = SystemReason(EEXIST);
    return {};
}

const std::string& ThisHostTag() {
    static const std::string tag = MakeHostTag();
    return tag;
}

namespace {

// The process id and counter at position at of a name, and the extension after them.
bool PidAndCounterAt(const std::string& name, size_t at) {
    const size_t dash = at + PidDigits, end = at + PidAndCounterLength;
    return AllOf(name, at, PidDigits, "0123456789") && name.size() > dash && name[dash] == '-' &&
           AllOf(name, dash + 1, CounterDigits, "0123456789abcdef") && (name.size() == end || name[end] == '.');
}

}  // namespace

bool IsTemporaryOutputName(const std::string& file_name, long* pid, std::string* host) {
    if (file_name.compare(0, TempPrefix.size(), TempPrefix) != 0) return false;
    // The host's tag holds no "." past HostTagMost, so the first place the rest fits is the one.
    size_t at = TempPrefix.size();
    if (!PidAndCounterAt(file_name, at)) {
        at = std::string::npos;
        for (size_t dash = TempPrefix.size() + 1; dash <= TempPrefix.size() + HostTagMost; ++dash)
            if (dash < file_name.size() && file_name[dash] == '-' && PidAndCounterAt(file_name, dash + 1)) {
                at = dash + 1;
                break;
            }
        if (at == std::string::npos) return false;
    }
    if (pid) *pid = std::stol(file_name.substr(at, PidDigits));
    if (host) *host = at == TempPrefix.size() ? "" : file_name.substr(TempPrefix.size(), at - 1 - TempPrefix.size());
    return true;
}

TPlaceCalls SetPlaceCalls(TPlaceCalls calls) {
    return {g_rename_noreplace.exchange(calls.rename_noreplace), g_link.exchange(calls.link)};
}

int RemoveLeftoverOutputs(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return 0;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        long pid = 0;
        std::string host;
        if (!IsTemporaryOutputName(entry->d_name, &pid, &host)) continue;
        // Another machine's process ids mean nothing here (a shared folder); names
        // without a host are of earlier versions, which wrote on one machine only.
        if (!host.empty() && host != ThisHostTag()) continue;
        // A process that still runs may be writing it; one that is gone never will.
        if (pid == ::getpid() || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        const std::string path = prefix + entry->d_name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool PrepareOutputFolder(const std::string& folder, std::string& why) {
    if (folder.empty()) {
        why = SystemReason(ENOENT);
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // A file in the folder's place is reported for what it is, not as "exists".
    if (ec == std::errc::file_exists || (!ec && !std::filesystem::is_directory(folder, ec))) {
        why = SystemReason(ENOTDIR);
        return false;
    }
    if (ec) {
        why = ec.message();
        return false;
    }
    RemoveLeftoverOutputs(folder);
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) == 0 && space.f_bavail == 0) {
        why = SystemReason(ENOSPC);
        return false;
    }
    const std::string probe = CreateTemporaryOutput(folder.back() == '/' ? folder : folder + "/", why);
    if (probe.empty()) return false;
    ::unlink(probe.c_str());
    return true;
}

std::string NumberedName(const std::string& base, int n) { return base + "(" + std::to_string(n) + ")"; }

bool PlaceOutput(const std::string& temp_path, const std::string& final_path, TPlaceMode mode, std::string& placed,
                 std::string& why, const std::function<bool(const std::string& taken)>& made_before,
                 std::string* made_there) {
    placed.clear();
    if (const int error = SyncFile(temp_path)) {
        why = SystemReason(error);
        return false;
    }
    if (mode == TPlaceMode::Replace) {
        if (::rename(temp_path.c_str(), final_path.c_str()) != 0) {
            why = SystemReason(errno);
            return false;
        }
        placed = final_path;
        return true;
    }
    const std::string extension = ExtensionOf(final_path);
    const std::string stem = final_path.substr(0, final_path.size() - extension.size());
    for (int n = 0; n < 100000; ++n) {
        const std::string target = n == 0 ? final_path : NumberedName(stem, n) + extension;
        const int error = RenameNoReplace(temp_path, target);
        if (error == 0) {
            placed = target;
            return true;
        }
        if (error != EEXIST) {
            why = SystemReason(error);
            return false;
        }
        const bool made = mode == TPlaceMode::KeepOrNumber && made_before && made_before(target);
        if (mode == TPlaceMode::OnlyIfFree || made) {
            if (made && made_there) *made_there = target;
            ::unlink(temp_path.c_str());
            return true;
        }
    }
    why = SystemReason(EEXIST);
    return false;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
