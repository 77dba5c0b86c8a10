#pragma once
// Two mends to the tags the mp3 muxer of the libraries writes, made in place
// once the file is complete, so the audio never moves.
//
// It writes a "comment" tag as a user-defined text frame (TXXX "comment"),
// which players do not show as the comment: such frames of an ID3v2.3 or v2.4
// tag become comment frames (COMM, language "eng", no description). A comment
// frame is shorter, so the tag keeps its size and the rest is padding. Tags
// with flags (unsynchronised, extended header, footer) or frames that do not
// add up are left as they are.
//
// It copies UTF-8 bytes into the ID3v1 tag, whose readers take them as
// Latin-1 (an e acute shows as two letters): its text fields are made Latin-1,
// with "?" for what Latin-1 cannot hold.
#include <cstdint>
#include <string>
#include <vector>

// The whole tag, its 10-byte header included; the count of frames rewritten.
int ConvertId3Comments(std::vector<uint8_t>& tag);

// The 128 bytes of an ID3v1 tag ("TAG" first); true when a field changed.
// Fields that are no UTF-8 (cut short at their end excepted) are left alone.
bool Id3v1ToLatin1(std::vector<uint8_t>& tag);

// Both mends on a finished MP3 file; nothing happens to a file that cannot be
// read or written or holds no such tags.
void MendId3Tags(const std::string& path);
