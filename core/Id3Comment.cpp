#include "core/Id3Comment.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t HeaderSize = 10;        // of the tag and of each frame
constexpr uint32_t MaxTagSize = 1u << 24;  // larger tags are no work of the muxer

uint32_t SyncSafe(const uint8_t* p) {
    return (uint32_t(p[0] & 0x7f) << 21) | (uint32_t(p[1] & 0x7f) << 14) | (uint32_t(p[2] & 0x7f) << 7) | (p[3] & 0x7f);
}

uint32_t BigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void PutSize(std::vector<uint8_t>& out, uint32_t size, int version) {
    const int shift = version == 4 ? 7 : 8;
    const uint32_t mask = version == 4 ? 0x7f : 0xff;
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>((size >> (shift * i)) & mask));
}

// Encodings 1 and 2 are UTF-16 (two-byte code units and terminator).
bool Wide(uint8_t encoding) { return encoding == 1 || encoding == 2; }

// Where the description of a TXXX body ends (its terminator); 0 when it has none.
size_t DescriptionEnd(const std::vector<uint8_t>& body) {
    if (!Wide(body[0])) {
        for (size_t i = 1; i < body.size(); ++i)
            if (body[i] == 0) return i;
        return 0;
    }
    for (size_t i = 1; i + 1 < body.size(); i += 2)
        if (body[i] == 0 && body[i + 1] == 0) return i;
    return 0;
}

// The description read as lower-case ASCII; "" when it holds anything else.
std::string AsciiDescription(const std::vector<uint8_t>& body, size_t end) {
    std::string text;
    size_t i = 1;
    bool little = false;
    if (Wide(body[0]) && end >= 3 && ((body[1] == 0xff && body[2] == 0xfe) || (body[1] == 0xfe && body[2] == 0xff))) {
        little = body[1] == 0xff;
        i = 3;
    }
    for (; i < end; i += Wide(body[0]) ? 2 : 1) {
        const uint32_t unit = Wide(body[0]) ? (little ? body[i] | (body[i + 1] << 8) : (body[i] << 8) | body[i + 1]) : body[i];
        if (unit == 0 || unit >= 0x80) return {};
        text += static_cast<char>(unit >= 'A' && unit <= 'Z' ? unit + 32 : unit);
    }
    return text;
}

// A COMM frame with the value of a TXXX "comment" body, or an empty body.
std::vector<uint8_t> CommentBody(const std::vector<uint8_t>& body) {
    if (body.empty() || body[0] > 3) return {};
    const size_t end = DescriptionEnd(body);
    if (end == 0 || AsciiDescription(body, end) != "comment") return {};
    std::vector<uint8_t> comm = {body[0], 'e', 'n', 'g'};
    if (body[0] == 1) comm.insert(comm.end(), {0xff, 0xfe});  // a UTF-16 text starts with its byte order mark
    comm.insert(comm.end(), Wide(body[0]) ? 2 : 1, 0);
    comm.insert(comm.end(), body.begin() + static_cast<long>(end + (Wide(body[0]) ? 2 : 1)), body.end());
    return comm;
}

}  // namespace

int ConvertId3Comments(std::vector<uint8_t>& tag) {
    if (tag.size() < HeaderSize || tag[0] != 'I' || tag[1] != 'D' || tag[2] != '3') return 0;
    const int version = tag[3];
    if ((version != 3 && version != 4) || tag[5] != 0) return 0;
    const size_t end = HeaderSize + SyncSafe(&tag[6]);
    if (end > tag.size()) return 0;
    std::vector<uint8_t> frames;
    int converted = 0;
    size_t pos = HeaderSize;
    while (pos + HeaderSize <= end && tag[pos] != 0) {
        const uint32_t size = version == 4 ? SyncSafe(&tag[pos + 4]) : BigEndian(&tag[pos + 4]);
        if (size > end - pos - HeaderSize) return 0;
        const auto first = tag.begin() + static_cast<long>(pos);
        const auto last = first + static_cast<long>(HeaderSize + size);
        std::vector<uint8_t> comm;
        const bool plain = tag[pos + 8] == 0 && tag[pos + 9] == 0;
        if (plain && std::string(first, first + 4) == "TXXX")
            comm = CommentBody(std::vector<uint8_t>(first + HeaderSize, last));
        if (comm.empty()) {
            frames.insert(frames.end(), first, last);
        } else {
            frames.insert(frames.end(), {'C', 'O', 'M', 'M'});
            PutSize(frames, static_cast<uint32_t>(comm.size()), version);
            frames.insert(frames.end(), {0, 0});
            frames.insert(frames.end(), comm.begin(), comm.end());
            ++converted;
        }
        pos += HeaderSize + size;
    }
    if (converted == 0 || frames.size() > end - HeaderSize) return 0;
    frames.resize(end - HeaderSize, 0);
    std::copy(frames.begin(), frames.end(), tag.begin() + HeaderSize);
    return converted;
}

int ConvertId3CommentsInFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<uint8_t> tag(HeaderSize);
    int converted = 0;
    if (::pread(fd, tag.data(), HeaderSize, 0) == static_cast<ssize_t>(HeaderSize) && tag[0] == 'I' &&
        tag[1] == 'D' && tag[2] == '3') {
        const uint32_t size = SyncSafe(&tag[6]);
        if (size <= MaxTagSize) {
            tag.resize(HeaderSize + size);
            if (::pread(fd, tag.data() + HeaderSize, size, HeaderSize) == static_cast<ssize_t>(size))
                converted = ConvertId3Comments(tag);
            if (converted > 0 &&
                ::pwrite(fd, tag.data() + HeaderSize, size, HeaderSize) != static_cast<ssize_t>(size))
                converted = 0;
        }
    }
    ::close(fd);
    return converted;
}
