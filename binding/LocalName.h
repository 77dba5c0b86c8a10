#pragma once
// Every name a user gives is a local file, never an address: "http://host/a.rm"
// is a file in the folders "http:" and "host", and "file:a.rm" is a file whose
// name starts with "file:". The libraries would read both as addresses, so each
// open hands them the name behind the file protocol's own prefix and allows no
// other protocol, also for the files a demuxer or muxer opens by itself
// (playlists, references, image sequences).
#include <string>

struct AVDictionary;

// The name as the libraries' file protocol reads it back to the same file.
std::string LocalFileUrl(const std::string& name);

// LocalFileUrl for a file about to be opened. When the environment names a
// file in ARDENTIX_OPENINGS, each opening appends the name to it as a line,
// so that tests can count how often a conversion opens each file.
std::string LocalFileOpening(const std::string& name);

// The file name of a url made by LocalFileUrl; other texts come back unchanged.
std::string LocalFileName(const std::string& url);

// Adds the one allowed protocol to a dictionary of open options.
void AllowOnlyLocalFiles(AVDictionary** options);

// The protocol list for a context's own "protocol_whitelist" option.
inline constexpr const char* LocalProtocols = "file";
