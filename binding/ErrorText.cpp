#include "binding/FFmpegLoader.h"

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
    else
        text = ": Error while opening file";
    return subject + text;
}
