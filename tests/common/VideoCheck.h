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

// The chapters in mediainfo's Menu section: each start (seconds) and title,
// without the language mediainfo may put before it ("en:").
struct MediaInfoChapter {
  double start = 0;
  std::string title;
};
std::vector<MediaInfoChapter> MediaInfoChapters(const std::string& path);

// One decoded picture, its planes copied without padding (chroma at the
// format's own size); a picture of a format other than 8-bit planar YUV or
// grey comes as 8-bit YUV 4:4:4 (video range).
struct DecodedPicture {
  int width = 0, height = 0;
  int chroma_width = 0, chroma_height = 0;
  double seconds = 0;  // presentation time
  double pixel_aspect = 1;  // a pixel's width to its height, as the decoder reads it
  std::vector<uint8_t> y, u, v;
  int Y(int x, int yy) const { return y[static_cast<size_t>(yy) * width + x]; }
  int U(int x, int yy) const { return u[static_cast<size_t>(yy) * chroma_width + x]; }
  int V(int x, int yy) const { return v[static_cast<size_t>(yy) * chroma_width + x]; }
};

// Every picture of the first video stream, decoded by the media libraries
// (loaded by the caller); error says why the list may be short.
std::vector<DecodedPicture> DecodePictures(const std::string& path, std::string* error = nullptr);

// The number a picture of the generator's rm-vfr kind shows (eight blocks
// across its middle, the highest bit left, bright for 1); -1 when a block is
// neither bright nor dark.
int ReadPictureNumber(const DecodedPicture& p);

// How far apart two pictures of any sizes look: the mean difference of the
// brightness of an 8x6 grid of cells, each taken over the same share of each
// picture (0 alike, 255 opposite).
double PictureDifference(const DecodedPicture& a, const DecodedPicture& b);

// The first channel of the first audio stream, decoded by the media libraries,
// with the presentation time of its first sample.
struct DecodedSound {
  int rate = 0;
  double start = 0;  // seconds
  std::vector<float> samples;
};
DecodedSound DecodeSound(const std::string& path, std::string* error = nullptr);

// Times (in the file's clock) where a tick starts: the sound rises above
// `level` after at least 50 ms below it.
std::vector<double> TickTimes(const DecodedSound& sound, double level = 0.2);

}  // namespace ardentix::test
