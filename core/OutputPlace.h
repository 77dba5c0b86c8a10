#pragma once
// Where an output is written while it is made, and how it takes its final name.
//
// An output is written under a short temporary name of ours in its target
// folder and moved to its final name only when its task has ended with a
// usable file, so an existing file is never emptied by a conversion that is
// stopped, fails or is killed. All functions here are plain file-system calls,
// safe on any thread; none keeps state but a process-wide counter.
#include <functional>
#include <string>

// A name of ours in the final path's folder: "." + "ardx-" + this machine's
// tag + "-" + the process id (10 digits) + "-" + a counter (8 hex digits) + the
// final name's extension, of one length whatever the final name. Machines
// writing to one shared folder so never meet, and each knows its own. The file
// is created empty and exclusively; on failure the result is empty and why
// holds the system's reason.
std::string CreateTemporaryOutput(const std::string& final_path, std::string& why);

// This machine's tag in temporary names: its host name, at most 24 characters
// of letters, digits, "." and "-" ("_" for others; a longer name is cut and
// ends with "~" and a hash of the whole).
const std::string& ThisHostTag();

// True for a file name made by CreateTemporaryOutput (or by earlier versions,
// without a host's tag); pid receives its process, host its tag (empty for
// the earlier names).
bool IsTemporaryOutputName(const std::string& file_name, long* pid = nullptr, std::string* host = nullptr);

// Removes the temporary files of ours in the folder that this machine's ended
// processes left (a killed or crashed run); those of a running instance, and
// every other machine's, stay. Returns the count.
int RemoveLeftoverOutputs(const std::string& folder);

// Checked once before a batch: creates the folder with its parents when
// missing, sweeps leftovers, and tries to write there. False with the system's
// reason when it cannot be made, cannot be written or has no free space.
bool PrepareOutputFolder(const std::string& folder, std::string& why);

// base + "(" + n + ")": the naming rule's n-th alternative to a taken name.
std::string NumberedName(const std::string& base, int n);

// How a finished temporary file takes its final name.
enum class TPlaceMode {
    Replace,      // the replace rule: an existing final file is replaced
    KeepOrNumber, // an existing final name is kept; the next free name(n) is taken
    OnlyIfFree,   // a stopped conversion: placed only where the final name is free
};

// Flushes the temporary file to disk and renames it, never replacing a file
// unless the mode says so. placed receives the name it got; empty when
// OnlyIfFree found the name taken (the temporary file is then removed). Under
// KeepOrNumber a taken name for which made_before holds (a finished
// conversion of the same input) ends the numbering: the temporary file is
// removed and made_there receives that name. False with the system's reason
// when it could not be placed (the temporary file is left for the caller to
// remove).
bool PlaceOutput(const std::string& temp_path, const std::string& final_path, TPlaceMode mode, std::string& placed,
                 std::string& why, const std::function<bool(const std::string& taken)>& made_before = nullptr,
                 std::string* made_there = nullptr);

// What a no-replace rename calls: the system's renameat2 with
// RENAME_NOREPLACE, and link(2) where that is refused (EINVAL or ENOSYS, as on
// NFS). Both return 0 or -1 with errno set. A seam for tests: they force the
// link fallback, and a link that reports failure after it succeeded as NFS
// can. Returns the calls in place before.
struct TPlaceCalls {
    int (*rename_noreplace)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
};
TPlaceCalls SetPlaceCalls(TPlaceCalls calls);

// Device and inode of both paths agree (links and other spellings of one file).
// False when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);
