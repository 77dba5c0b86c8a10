#pragma once
// What an output records of the input it was made from, so that a run under
// the skip rule takes a file at an output's name as done only when it is this
// input's, and whole. The record names the input by its path relative to the
// run's base (the folder the outputs mirror), its size and its modification
// time: an input moved with its tree still matches, a changed one does not.
//
// Kinds that hold tags carry it as a tag of the muxer's metadata, written
// with the header while the end is not known ("state=?"); the one byte of the
// state is set in the finished temporary file, before it takes its name, so a
// file at the name never says more than it is. Kinds without tags (WAV, the
// disc and tape kinds) get a sidecar per output, ".NAME.ardentix-source",
// written beside it once it is placed, atomically, with the output's own size
// and modification time, so a sidecar of a file since replaced says nothing.
#include <cstdint>
#include <optional>
#include <string>

// How the output ended.
enum class TMadeState : char {
    Open = '?',        // not finished: a stopped conversion, or never marked
    Whole = 'w',       // converted whole
    InputShort = 'e',  // read to the input's end, which came before its declared length
};

struct TSourceRecord {
    std::string Path;  // relative to the base; bytes outside printable ASCII, "%" and " " as %XX in the text
    int64_t Size = -1;
    int64_t ModifiedNs = -1;
    TMadeState State = TMadeState::Open;
};

// "state=? size=N mtime=NS path=P", ASCII whatever the path, so every
// container's tag holds it byte for byte.
std::string SourceRecordText(const TSourceRecord& record);
// The record of a text; none for any other text.
std::optional<TSourceRecord> ParseSourceRecord(const std::string& text);
// The input as a record of path relative (Open state), from its own size and
// modification time; none when it cannot be examined. A stat, no opening.
std::optional<TSourceRecord> InputRecord(const std::string& input, const std::string& relative);
// Both name one input as it was: the same path, size and modification time.
bool SameSource(const TSourceRecord& a, const TSourceRecord& b);
// A file with this record is a finished conversion of its input.
inline bool MadeToTheEnd(const TSourceRecord& r) { return r.State != TMadeState::Open; }

// The record the output at path holds: its tag of that name, or with an
// empty tag its sidecar (when the output is still the file it was written
// for). Opens the output only when a file is there; none when it holds none.
std::optional<TSourceRecord> ReadSourceRecord(const std::string& output, const std::string& tag);

// Sets the state of the record text (as written, state "?") in a finished
// file that carries it in a tag, mending the Ogg page around it. False when
// the file does not hold the text where tags are (its first and last 64 MiB).
bool MarkSourceRecord(const std::string& file, const std::string& text, TMadeState state);

// ".NAME.ardentix-source" beside the output.
std::string SourceSidecarPath(const std::string& output);
// Writes the sidecar of a placed output, under a temporary name first.
bool WriteSourceSidecar(const std::string& output, const std::string& text, TMadeState state);
