#pragma once
// Checking video independently of the engine: what mediainfo (a parser that is
// not ours) reads from a file.
#include <cstdint>
#include <string>
#include <vector>

namespace ardentix::test {

// Whether the mediainfo program can be run.
bool HaveMediaInfo();

// One field of one section as mediainfo reports it, e.g.
// MediaInfoField(path, "Video", "Format") -> "AVC"; "" when absent.
// Sections: General, Video, Audio, Text; fields: mediainfo's own names
// (Format, Width, Height, FrameRate, DisplayAspectRatio, BitRate, FrameCount ...).
std::string MediaInfoField(const std::string& path, const std::string& section, const std::string& field);

// One decoded picture, its planes copied without padding (chroma at the
// format's own size).
struct DecodedPicture {
  int width = 0, height = 0;
  int chroma_width = 0, chroma_height = 0;
  double seconds = 0;  // presentation time
  std::vector<uint8_t> y, u, v;
  int Y(int x, int yy) const { return y[static_cast<size_t>(yy) * width + x]; }
  int U(int x, int yy) const { return u[static_cast<size_t>(yy) * chroma_width + x]; }
  int V(int x, int yy) const { return v[static_cast<size_t>(yy) * chroma_width + x]; }
};

// Every picture of the first video stream, decoded by the media libraries
// (loaded by the caller); error says why the list may be short.
std::vector<DecodedPicture> DecodePictures(const std::string& path, std::string* error = nullptr);

}  // namespace ardentix::test
