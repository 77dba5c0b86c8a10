#pragma once
// Reading subtitles back with the media libraries (loaded by the caller): every
// packet of a file's first subtitle stream, each decoded on its own.
#include <cstdint>
#include <string>
#include <vector>

namespace ardentix::test {

struct SubtitlePacket {
  int64_t pts = 0;       // in the stream's time base; INT64_MIN when missing
  int64_t duration = 0;  // in the stream's time base
  double seconds = -1;   // pts in seconds
  int rects = -1;        // rectangles of the decoded subtitle; -1 when nothing decoded
  int width = 0, height = 0;  // of the first bitmap rectangle
  std::string text;      // the text rectangles' ASS lines, joined by "\n"
};

struct SubtitleStream {
  std::string error;     // why the list may be short; "" when read to the end
  std::string codec;     // the libraries' codec name ("ass", "mov_text", "dvb_subtitle")
  int streams = 0;       // subtitle streams in the file
  int tb_num = 0, tb_den = 1;
  std::vector<SubtitlePacket> packets;
};

// The subtitle stream at position `which` among the file's subtitle streams;
// format: the container's name when the file is too short to be recognised.
SubtitleStream ReadSubtitles(const std::string& path, int which = 0, const char* format = nullptr);

}  // namespace ardentix::test
