#include "core/SourceRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <vector>

#include "binding/Entries.h"
#include "binding/LocalName.h"
#include "core/FormatText.h"
#include "core/OutputPlace.h"

namespace {

constexpr const char* StateKey = "state=";
constexpr int64_t TagRegion = int64_t{64} << 20;  // where tags lie: the start (header, moov) and the end
constexpr size_t Chunk = size_t{1} << 20;

std::string Escaped(const std::string& path) {
    std::string text;
    for (const unsigned char c : path) {
        if (c > ' ' && c < 0x7f && c != '%') text += static_cast<char>(c);
        else text += FormatText("%%%02X", c);
    }
    return text;
}

std::optional<std::string> Unescaped(const std::string& text) {
    std::string path;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        path += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return path;
}

std::optional<int64_t> Number(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool Stat(const std::string& path, struct stat& info) { return ::stat(path.c_str(), &info) == 0; }

int64_t ModifiedNsOf(const struct stat& info) {
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// The sidecar's line after the record: the output it was written for.
std::string OutputFacts(const struct stat& info) {
    return FormatText(" output=%lld:%lld", static_cast<long long>(info.st_size),
                      static_cast<long long>(ModifiedNsOf(info)));
}

std::string ReadSmallFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 65536) text.append(buffer, size_t(n));
    ::close(fd);
    return text;
}

std::optional<TSourceRecord> RecordInTags(const std::string& output, const std::string& tag) {
    AVFormatContext* ctx = avformat.avformat_alloc_context();
    if (!ctx) return std::nullopt;
    AVDictionary* options = nullptr;
    AllowOnlyLocalFiles(&options);
    const int opened = avformat.avformat_open_input(&ctx, LocalFileOpening(output).c_str(), nullptr, &options);
    avutil.av_dict_free(&options);
    if (opened < 0) return std::nullopt;
    // Ogg keeps its comments with the stream; the other containers with the file.
    std::optional<TSourceRecord> record;
    auto look = [&](const AVDictionary* metadata) {
        if (const AVDictionaryEntry* entry = avutil.av_dict_get(metadata, tag.c_str(), nullptr, 0); entry && !record)
            record = ParseSourceRecord(entry->value);
    };
    look(ctx->metadata);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) look(ctx->streams[i]->metadata);
    avformat.avformat_close_input(&ctx);
    return record;
}

// The first place of text within [from, to) of the file.
int64_t Find(int fd, const std::string& text, int64_t from, int64_t to) {
    std::vector<char> buffer(Chunk + text.size());
    for (int64_t at = from; at < to; at += static_cast<int64_t>(Chunk)) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(to - at, static_cast<int64_t>(buffer.size())));
        const ssize_t got = ::pread(fd, buffer.data(), want, at);
        if (got <= 0) return -1;
        const auto end = buffer.begin() + got;
        const auto found = std::search(buffer.begin(), end, text.begin(), text.end());
        if (found != end) return at + (found - buffer.begin());
    }
    return -1;
}

// Ogg's page checksum: CRC-32, polynomial 0x04c11db7, sent first bit first, no reflection.
uint32_t OggCrc(const std::vector<unsigned char>& page) {
    uint32_t crc = 0;
    for (const unsigned char byte : page) {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// Sets the checksum of the Ogg page holding offset, walking the pages from the start.
bool MendOggPage(int fd, int64_t offset) {
    int64_t page = 0;
    unsigned char head[27 + 255];
    while (page <= offset) {
        if (::pread(fd, head, 27, page) != 27 || std::memcmp(head, "OggS", 4) != 0) return false;
        const int segments = head[26];
        if (::pread(fd, head + 27, size_t(segments), page + 27) != segments) return false;
        int64_t size = 27 + segments;
        for (int i = 0; i < segments; ++i) size += head[27 + i];
        if (offset < page + size) {
            std::vector<unsigned char> bytes(static_cast<size_t>(size));
            if (::pread(fd, bytes.data(), bytes.size(), page) != size) return false;
            std::fill(bytes.begin() + 22, bytes.begin() + 26, 0);
            const uint32_t crc = OggCrc(bytes);
            const unsigned char le[4] = {static_cast<unsigned char>(crc), static_cast<unsigned char>(crc >> 8),
                                         static_cast<unsigned char>(crc >> 16), static_cast<unsigned char>(crc >> 24)};
            return ::pwrite(fd, le, 4, page + 22) == 4;
        }
        page += size;
    }
    return false;
}

}  // namespace

std::string SourceRecordText(const TSourceRecord& record) {
    return FormatText("%s%c size=%lld mtime=%lld path=", StateKey, static_cast<char>(record.State),
                      static_cast<long long>(record.Size), static_cast<long long>(record.ModifiedNs)) +
           Escaped(record.Path);
}

std::optional<TSourceRecord> ParseSourceRecord(const std::string& text) {
    TSourceRecord record;
    bool state = false, size = false, mtime = false, path = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string field = text.substr(at, end - at);
        at = end + 1;
        const size_t eq = field.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
        if (key == "state" && value.size() == 1) {
            const char c = value[0];
            if (c != '?' && c != 'w' && c != 'e') return std::nullopt;
            record.State = static_cast<TMadeState>(c);
            state = true;
        } else if (key == "size" || key == "mtime") {
            const auto number = Number(value);
            if (!number) return std::nullopt;
            (key == "size" ? record.Size : record.ModifiedNs) = *number;
            (key == "size" ? size : mtime) = true;
        } else if (key == "path") {
            const auto decoded = Unescaped(value);
            if (!decoded || decoded->empty()) return std::nullopt;
            record.Path = *decoded;
            path = true;
        }
    }
    if (!state || !size || !mtime || !path) return std::nullopt;
    return record;
}

std::optional<TSourceRecord> InputRecord(const std::string& input, const std::string& relative) {
    struct stat info {};
    if (!Stat(input, info) || !S_ISREG(info.st_mode)) return std::nullopt;
    return TSourceRecord{relative, static_cast<int64_t>(info.st_size), ModifiedNsOf(info), TMadeState::Open};
}

bool SameSource(const TSourceRecord& a, const TSourceRecord& b) {
    return a.Path == b.Path && a.Size == b.Size && a.ModifiedNs == b.ModifiedNs;
}

std::string SourceSidecarPath(const std::string& output) {
    const size_t slash = output.find_last_of('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    return output.substr(0, name) + "." + output.substr(name) + ".ardentix-source";
}

std::optional<TSourceRecord> ReadSourceRecord(const std::string& output, const std::string& tag) {
    struct stat info {};
    if (!Stat(output, info) || !S_ISREG(info.st_mode)) return std::nullopt;
    if (!tag.empty()) return RecordInTags(output, tag);
    std::string text = ReadSmallFile(SourceSidecarPath(output));
    // Written for this very file, or it tells nothing of it.
    const std::string facts = OutputFacts(info) + "\n";
    if (text.size() <= facts.size() || text.compare(text.size() - facts.size(), facts.size(), facts) != 0)
        return std::nullopt;
    return ParseSourceRecord(text.substr(0, text.size() - facts.size()));
}

bool MarkSourceRecord(const std::string& file, const std::string& text, TMadeState state) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool marked = false;
    if (::fstat(fd, &info) == 0) {
        const int64_t size = info.st_size;
        int64_t at = Find(fd, text, 0, std::min(size, TagRegion));
        if (at < 0 && size > TagRegion) at = Find(fd, text, std::max(TagRegion, size - TagRegion), size);
        const char byte = static_cast<char>(state);
        const int64_t where = at + static_cast<int64_t>(std::strlen(StateKey));
        marked = at >= 0 && ::pwrite(fd, &byte, 1, where) == 1;
        char magic[4] = {};
        if (marked && ::pread(fd, magic, 4, 0) == 4 && std::memcmp(magic, "OggS", 4) == 0)
            marked = MendOggPage(fd, where);
    }
    ::close(fd);
    return marked;
}

bool WriteSourceSidecar(const std::string& output, const std::string& text, TMadeState state) {
    struct stat info {};
    if (!Stat(output, info)) return false;
    auto record = ParseSourceRecord(text);
    if (!record) return false;
    record->State = state;
    const std::string sidecar = SourceSidecarPath(output);
    std::string why;
    const std::string temp = CreateTemporaryOutput(sidecar, why);
    if (temp.empty()) return false;
    const std::string content = SourceRecordText(*record) + OutputFacts(info) + "\n";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool written = fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (fd >= 0) written = ::close(fd) == 0 && written;
    if (written && ::rename(temp.c_str(), sidecar.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}
