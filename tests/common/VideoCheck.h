#pragma once
// Checking video independently of the engine: what mediainfo (a parser that is
// not ours) reads from a file.
#include <string>

namespace ardentix::test {

// Whether the mediainfo program can be run.
bool HaveMediaInfo();

// One field of one section as mediainfo reports it, e.g.
// MediaInfoField(path, "Video", "Format") -> "AVC"; "" when absent.
// Sections: General, Video, Audio, Text; fields: mediainfo's own names
// (Format, Width, Height, FrameRate, DisplayAspectRatio, BitRate, FrameCount ...).
std::string MediaInfoField(const std::string& path, const std::string& section, const std::string& field);

}  // namespace ardentix::test
