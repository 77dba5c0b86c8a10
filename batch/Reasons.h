#pragma once
// Why a file of a batch was not converted, or was converted only in part: a
// closed set of codes, each with its English caption. Both faces and the
// reports word a file's outcome from its code; the record's text adds the
// details (the file, the libraries' message).
#include <vector>

enum class TReason {
    None,
    InputUnreadable,       // missing, not a file, or not media the libraries read
    LinkEntryUnusable,     // a link file's entry that names nothing that can be converted
    NoStreamForKind,       // the source lacks what the kind needs (pictures for a video kind)
    OutputFolderUnusable,  // the output folder cannot be made or written
    OutputIsInput,         // the output's name is the input file itself
    NameRefused,           // the file system refused the output's name
    DiskFull,              // the output's file system ran out of space
    DecodingFailed,        // the input's data could not be decoded
    EncodingFailed,        // converting or writing the output failed
    Stopped,               // the user stopped the batch
    InputEndedEarly,       // converted, but the input ends clearly before its declared length
    OutputExists,          // skipped: a file at the output's name counts as its conversion
    AccessDenied,          // the file, or the folder holding it, may not be read
    NameTooLong,           // the path is longer than the system takes
    NotAFile,              // a device, a pipe or a socket where a file was expected
    DanglingLink,          // a link to nothing (or to itself, round)
    Vanished,              // listed, but removed or replaced by something else before its turn
};

// "Cannot read the input", ...; empty for None.
const char* ReasonCaption(TReason reason);
// "input-unreadable", ...: the code as a report names it; empty for None.
const char* ReasonName(TReason reason);
// Every code but None, in declaration order (for tables of captions).
std::vector<TReason> AllReasons();
// Whether a file that ended with this reason may be converted by a run again
// as it is (a full disk, a stop, a failed encoding), or will end the same way
// (damaged, unreadable, nothing to convert): what a script's resubmission asks.
bool ReasonRetryable(TReason reason);

// The reason for a file the system refused to examine or open, from its errno:
// AccessDenied, NameTooLong, Vanished (ENOENT), else InputUnreadable.
TReason ReasonOfErrno(int error);
