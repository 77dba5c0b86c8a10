#pragma once
// Folders as inputs, the same in both faces: a folder stands for the media
// files inside it and its subfolders, and each output mirrors its file's path
// relative to a base folder, so that two inputs of one name in different
// folders never meet and a later run over part of the tree finds the same
// outputs. Walking opens no file: a file counts as media by its name, and the
// probe reads it only when it is converted. Every entry the walk meets that
// is or may be an input has its say: a media file, a link file, or an entry
// that cannot be examined or is no file; only hidden entries, files of other
// names and outputs beside their sources are passed over.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "batch/Reasons.h"

struct stat;

// Whether a file's name ends with an extension of the media the libraries
// read (the RealMedia ones and the common audio and video ones), in any case.
// Link files (.ram) are not among them: their entries may lie in the tree too.
bool IsMediaName(const std::string& name);
// Whether path names a folder (following links); false when it cannot be told.
bool IsFolder(const std::string& path);

// The folder, relative to base, that mirrors the folder of path, ending with
// "/": "Lectures/2003/" for /a/Lectures/2003/x.rm under /a. Empty when base
// is empty, or path lies outside it (such a file stays flat). Both are read as
// written, made absolute, without resolving links: the walked path decides.
std::string MirroredFolder(const std::string& path, const std::string& base);

// Which files of a batch one of several jobs converts: those whose path
// relative to the base (Subfolder and file name; the name alone for a flat
// file) hashes to Index modulo Count. The hash is FNV-1a of 64 bits over the
// path's bytes (offset basis 14695981039346656037, prime 1099511628211), so
// Count jobs over the same inputs and base cover each file exactly once
// without any of them listing the others' files.
struct TShard {
    int Index = 0;
    int Count = 0;  // shards in all; none (zero) means one job takes every file
};
uint64_t PathHash(const std::string& relative_path);
bool InShard(const TShard& shard, const std::string& relative_path);

// An entry found by a walk: its path (the folder given joined with the names
// walked) and the folder its output mirrors; or, with a Problem, an entry or
// a folder that cannot be an input, and why.
struct TFoundFile {
    std::string Path;
    std::string Subfolder;  // as MirroredFolder gives it
    bool Link = false;      // named as a link file (.ram, .rpm): a link, or RealMedia by that name
    TReason Problem = TReason::None;
    std::string Text;  // with a Problem: the system's reason, in English
};

// The media files under a folder in name order (bytes of the names, each
// folder's entries in turn, a subfolder's files where its name sorts), each
// examined once (one stat, following links); entries that cannot be inputs
// come as problems where they sort: a folder or entry that cannot be read, a
// name too long, a dangling link, a device, pipe or socket. Hidden
// files and folders (a name starting with ".") are left out, and so is the
// folder skip (the run's output folder when it lies inside the tree). A link
// to a folder is followed unless that folder was walked already, so loops end.
// Memory grows with the depth and width of the tree, not with its files.
class TFolderWalk {
public:
    // base: the folder outputs mirror paths to; empty: the folder itself.
    // outputs: the extension (".mp3") of outputs written next to their
    // sources, or empty; a file with it beside a media file of the same name
    // (less the "(n)" a numbered name adds) is such an output, and left out,
    // so that a run again over the folder does not take its outputs as inputs.
    TFolderWalk(const std::string& folder, const std::string& base, const std::string& skip,
                const std::string& outputs = "");
    ~TFolderWalk();
    TFolderWalk(const TFolderWalk&) = delete;
    TFolderWalk& operator=(const TFolderWalk&) = delete;

    // The next file or problem; false when the walk is over.
    bool Next(TFoundFile& file);

private:
    struct TFrame;
    void Enter(const std::string& folder, const struct stat* known, TFoundFile& problem);
    bool Problem(const std::string& path, int error, bool folder, TFoundFile& file) const;
    bool IsOutputBesideItsSource(const TFrame& frame, const std::string& name) const;

    std::string base_;
    std::string outputs_;
    uint64_t skip_dev_ = 0, skip_ino_ = 0;
    bool has_skip_ = false;
    std::set<std::pair<uint64_t, uint64_t>> walked_;  // device and inode of each folder entered
    std::vector<std::unique_ptr<TFrame>> stack_;
    bool has_first_problem_ = false;  // the folder given could not be entered
    TFoundFile first_problem_;
};
