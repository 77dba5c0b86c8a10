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
};

// "Cannot read the input", ...; empty for None.
const char* ReasonCaption(TReason reason);
// "input-unreadable", ...: the code as a report names it; empty for None.
const char* ReasonName(TReason reason);
// Every code but None, in declaration order (for tables of captions).
std::vector<TReason> AllReasons();
