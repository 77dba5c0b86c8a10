#pragma once
// RealMedia link files (".ram", ".rpm"): small text files that name what a
// player should play, one address or path a line, "#" starting a comment and
// "--stop--" ending the list. They hold no media. Both front ends turn a link
// into the local files it names and say what it names that cannot be fetched.
// No media library is involved.
#include <cstddef>
#include <string>
#include <vector>

// One line of a link file.
struct TLinkTarget {
    std::string Text;       // the line as written, without surrounding blanks
    std::string LocalPath;  // the local file it names; empty for a network address
};

struct TLinkFile {
    bool IsLink = false;  // false: the file is no link file (media, or not readable)
    std::vector<TLinkTarget> Targets;
    std::vector<std::string> Problems;  // lines left out, each as a message naming the link
};

// A link file is text of at most this size; a larger file is taken for media.
inline constexpr std::size_t MaxLinkFileBytes = 64 * 1024;
// Longer lines are no path any file system takes.
inline constexpr std::size_t MaxLinkLineBytes = 4096;
// Entries read from one link, and entries one expansion goes through, at most.
inline constexpr std::size_t MaxLinkTargets = 1000;
// Links followed through links at most.
inline constexpr int MaxLinkDepth = 8;

// Whether the name ends in ".ram" or ".rpm", in any case.
bool IsLinkFileName(const std::string& path);

// Reads a link file's text; relative paths are taken from the link's folder.
// The file counts as a link when its name ends in ".ram" or ".rpm" or its first
// entry is an address, and it is text (no NUL or other control bytes) and not
// RealMedia.
TLinkFile ParseLinkFile(const std::string& path, const std::string& contents);
TLinkFile ReadLinkFile(const std::string& path);

// What a file given by the user stands for: itself, or the local files of a link
// (followed through further links) and messages for what was left out.
struct TLinkExpansion {
    bool IsLink = false;
    std::vector<std::string> Files;     // local files to convert, in the link's order
    std::vector<std::string> Notes;     // "<link>: link to <file>", one a file, for the user's record
    std::vector<std::string> Problems;  // each an entry that is not converted
};
TLinkExpansion ExpandLinkFile(const std::string& path);
