#include "probe/LinkFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Schemes a link names streams with even without "//" after the colon.
constexpr const char* NetworkSchemes[] = {"rtsp", "pnm", "http", "https", "mms", "mmsh", "ftp"};

// Links read through other links at most, so that links naming each other many
// times over end soon.
constexpr int MaxLinksRead = 100;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}


// RealMedia and RealAudio files start so; some carry a link file's extension.
bool IsMedia(const std::string& contents) {
    return contents.rfind(".RMF", 0) == 0 || contents.rfind(".ra\xfd", 0) == 0;
}

// Link files are plain text; any other control byte means binary data.
bool IsText(const std::string& contents) {
    return std::none_of(contents.begin(), contents.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7f;
    });
}

std::string Trim(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\f'; };
    size_t begin = 0, end = s.size();
    while (begin < end && blank(s[begin])) ++begin;
    while (end > begin && blank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// The scheme of an address ("rtsp" of "rtsp://host/a.rm"), lower case; empty for
// a path. One letter before the colon is a drive ("C:\Music\a.rm"), not a scheme.
std::string SchemeOf(const std::string& line) {
    size_t n = 0;
    while (n < line.size() && (std::isalnum(static_cast<unsigned char>(line[n])) || line[n] == '+' ||
                               line[n] == '-' || line[n] == '.'))
        ++n;
    if (n < 2 || n >= line.size() || line[n] != ':' || !std::isalpha(static_cast<unsigned char>(line[0])))
        return "";
    const std::string scheme = Lower(line.substr(0, n));
    if (scheme == "file" || line.compare(n, 3, "://") == 0) return scheme;
    for (const char* known : NetworkSchemes)
        if (scheme == known) return scheme;
    return "";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "%00" stays as written: a NUL would cut the name short at the file system.
std::string PercentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const int high = i + 2 < s.size() ? HexValue(s[i + 1]) : -1;
        const int low = i + 2 < s.size() ? HexValue(s[i + 2]) : -1;
        if (s[i] == '%' && high >= 0 && low >= 0 && high + low > 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The local path of a "file:" address; empty when it names another computer.
// Players' options after "?" and a fragment after "#" are no part of the name.
std::string FileAddressPath(const std::string& line) {
    std::string rest = line.substr(5);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.rfind("//", 0) == 0) {
        const size_t slash = rest.find('/', 2);
        const std::string host = Lower(rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2));
        if (!host.empty() && host != "localhost") return "";
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    return PercentDecoded(rest);
}

std::string Resolved(const std::string& link, const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    const fs::path folder = fs::path(link).parent_path();
    return folder.empty() ? path : (folder / path).string();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++start;
    }
    return lines;
}

// Why a path cannot be read as a file; empty for a regular file (or a symbolic
// link to one).
std::string TargetProblem(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return "no such file";
    if (fs::is_directory(status)) return "is a directory";
    if (!fs::is_regular_file(status)) return "not a regular file";
    return "";
}

std::string Identity(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

// Follows links through links. Every entry met counts against one budget, and
// so do the links read, so that lists of links naming each other many times over
// end soon, with one message.
struct TExpander {
    TLinkExpansion& out;
    std::vector<std::string> chain;  // links being followed, outermost first
    size_t entries = 0;
    int linksRead = 1;
    bool stopped = false;

    void Problem(const std::string& text) { out.Problems.push_back(text); }

    void Stop(const std::string& link) {
        stopped = true;
        Problem(link + ": names too many files and links; the rest are left out");
    }

    void Expand(const std::string& link, const TLinkFile& file) {
        chain.push_back(Identity(link));
        for (const std::string& p : file.Problems) Problem(p);
        for (const TLinkTarget& target : file.Targets) {
            if (stopped) break;
            if (++entries > MaxLinkTargets) {
                Stop(link);
                break;
            }
            if (target.LocalPath.empty()) {
                Problem(link + ": link to " + target.Text + ", which cannot be fetched: only local files are converted");
                continue;
            }
            const std::string& path = target.LocalPath;
            if (const std::string why = TargetProblem(path); !why.empty()) {
                Problem(link + ": link to " + path + ": " + why);
                continue;
            }
            out.Notes.push_back(link + ": link to " + path);
            const TLinkFile inner = ReadLinkFile(path);
            if (!inner.IsLink) {
                out.Files.push_back(path);
                continue;
            }
            if (std::find(chain.begin(), chain.end(), Identity(path)) != chain.end()) {
                Problem(link + ": link to " + path + ", which leads back to a link already followed");
                continue;
            }
            if (static_cast<int>(chain.size()) >= MaxLinkDepth) {
                Problem(link + ": link to " + path + ", one link too many in a row");
                continue;
            }
            if (++linksRead > MaxLinksRead) {
                Stop(link);
                break;
            }
            Expand(path, inner);
        }
        chain.pop_back();
    }
};

}  // namespace

bool IsLinkFileName(const std::string& path) {
    const std::string ext = Lower(fs::path(path).extension().string());
    return ext == ".ram" || ext == ".rpm";
}

TLinkFile ParseLinkFile(const std::string& path, const std::string& contents) {
    TLinkFile file;
    if (contents.size() > MaxLinkFileBytes || IsMedia(contents) || !IsText(contents)) return file;
    std::string text = contents;
    if (text.rfind("\xef\xbb\xbf", 0) == 0) text.erase(0, 3);  // a byte-order mark of UTF-8

    int number = 0;
    for (const std::string& raw : Lines(text)) {
        ++number;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line == "--stop--") break;
        // Without the link extension only a file that starts with an address is one.
        if (!file.IsLink && !IsLinkFileName(path) && SchemeOf(line).empty()) return TLinkFile{};
        file.IsLink = true;
        if (line.size() > MaxLinkLineBytes) {
            file.Problems.push_back(path + ": line " + std::to_string(number) + " is too long to name a file");
            continue;
        }
        if (file.Targets.size() >= MaxLinkTargets) {
            file.Problems.push_back(path + ": only the first " + std::to_string(MaxLinkTargets) + " entries are read");
            break;
        }
        const std::string scheme = SchemeOf(line);
        std::string local;
        if (scheme.empty())
            local = Resolved(path, line);
        else if (scheme == "file")
            local = Resolved(path, FileAddressPath(line));
        file.Targets.push_back(TLinkTarget{line, local});
    }
    if (!file.IsLink && IsLinkFileName(path)) file.IsLink = true;  // only comments, or nothing
    return file;
}

TLinkFile ReadLinkFile(const std::string& path) {
    // Only a regular file is read: a pipe or a device would never end.
    if (!TargetProblem(path).empty()) return TLinkFile{};
    std::ifstream in(path, std::ios::binary);
    if (!in) return TLinkFile{};
    std::string contents(MaxLinkFileBytes + 1, '\0');
    in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    contents.resize(static_cast<size_t>(in.gcount()));
    return ParseLinkFile(path, contents);
}

TLinkExpansion ExpandLinkFile(const std::string& path) {
    TLinkExpansion out;
    const TLinkFile file = ReadLinkFile(path);
    if (!file.IsLink) return out;
    out.IsLink = true;
    TExpander{out}.Expand(path, file);
    if (out.Files.empty() && out.Problems.empty()) out.Problems.push_back(path + ": link file that names no file");
    return out;
}
