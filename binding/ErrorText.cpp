#include <system_error>

#include "binding/FFmpegLoader.h"

namespace {

// The libraries pass a system error on as its negated number; their own
// codes are tags far below that range.
bool IsSystemError(int code) { return code < 0 && code > -4096; }

std::string SystemReason(int code) { return std::generic_category().message(-code); }

}  // namespace

std::string FFmpegErrorText(const std::string& subject, int code) {
    const char* text;
    if (code == AVERROR_INVALIDDATA || code == AVERROR_DEMUXER_NOT_FOUND || code == AVERROR(EILSEQ))
        text = ": Unknown format";
    else if (code == AVERROR(EDOM))
        text = ": Incorrect image filename syntax.\r\n"
               "Use '%d' to specify the image number:\r\n"
               "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
               "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";
    else if (code == AVERROR(EINVAL))
        text = ": Error while parsing header";
    else if (code == AVERROR(ENOMEM))
        text = ": memory allocation error occurred";
    else if (code == AVERROR(EIO))
        text = ": I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
    else if (code == AVERROR(ENOENT))
        text = ": no such file or directory";
    else if (IsSystemError(code))
        return subject + ": " + SystemReason(code);
    else
        text = ": Error while opening file";
    return subject + text;
}

std::string FFmpegWriteErrorText(const std::string& subject, int code) {
    // Writing, the system's reason is the user's: a full disk, a quota, a failing
    // drive. The texts above speak of reading an input.
    if (IsSystemError(code)) return subject + ": " + SystemReason(code);
    return FFmpegErrorText(subject, code);
}
