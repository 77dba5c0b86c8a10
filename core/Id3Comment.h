#pragma once
// The mp3 muxer of the libraries writes a "comment" tag as a user-defined text
// frame (TXXX "comment"), which players do not show as the comment. These turn
// such frames of an ID3v2.3 or v2.4 tag into comment frames (COMM, language
// "eng", no description) in place: a comment frame is shorter, so the tag keeps
// its size, the rest is padding, and the audio after it does not move. Tags
// with flags (unsynchronised, extended header, footer) or frames that do not
// add up are left as they are.
#include <cstdint>
#include <string>
#include <vector>

// The whole tag, its 10-byte header included; the count of frames rewritten.
int ConvertId3Comments(std::vector<uint8_t>& tag);

// The tag at the start of a file; the count of frames rewritten, 0 also when
// the file cannot be read or written.
int ConvertId3CommentsInFile(const std::string& path);
