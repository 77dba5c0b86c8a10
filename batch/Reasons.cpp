#include "batch/Reasons.h"

#include <cerrno>

namespace {

struct TReasonRow {
    TReason reason;
    const char* name;  // for reports a script reads
    const char* caption;
    bool retryable;  // a run again may convert the file
};

constexpr TReasonRow ReasonRows[] = {
    {TReason::InputUnreadable, "input-unreadable", "Cannot read the input", false},
    {TReason::LinkEntryUnusable, "link-entry-unusable", "The link names nothing that can be converted", false},
    {TReason::NoStreamForKind, "no-stream-for-kind", "The input has nothing to write as this format", false},
    {TReason::OutputFolderUnusable, "output-folder-unusable", "Cannot write to the output folder", true},
    {TReason::OutputIsInput, "output-is-input", "The output would replace the input", false},
    {TReason::NameRefused, "name-refused", "The output's name cannot be used", false},
    {TReason::DiskFull, "disk-full", "The disk is full", true},
    {TReason::DecodingFailed, "decoding-failed", "The input could not be decoded", false},
    {TReason::EncodingFailed, "encoding-failed", "The conversion failed", true},
    {TReason::Stopped, "stopped", "Stopped", true},
    {TReason::InputEndedEarly, "input-ended-early", "The input ends early", false},
    {TReason::OutputExists, "output-exists", "The output exists already", false},
    {TReason::AccessDenied, "access-denied", "No permission to read it", false},
    {TReason::NameTooLong, "name-too-long", "The name is too long", false},
    {TReason::NotAFile, "not-a-file", "Not a file (a device, a pipe or a socket)", false},
    {TReason::DanglingLink, "dangling-link", "The link points to nothing", false},
    {TReason::Vanished, "vanished", "Removed or replaced before its turn", false},
};

}  // namespace

const char* ReasonCaption(TReason reason) {
    for (const TReasonRow& row : ReasonRows)
        if (row.reason == reason) return row.caption;
    return "";
}

const char* ReasonName(TReason reason) {
    for (const TReasonRow& row : ReasonRows)
        if (row.reason == reason) return row.name;
    return "";
}

std::vector<TReason> AllReasons() {
    std::vector<TReason> all;
    for (const TReasonRow& row : ReasonRows) all.push_back(row.reason);
    return all;
}

bool ReasonRetryable(TReason reason) {
    for (const TReasonRow& row : ReasonRows)
        if (row.reason == reason) return row.retryable;
    return false;
}

TReason ReasonOfErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM: return TReason::AccessDenied;
        case ENAMETOOLONG: return TReason::NameTooLong;
        case ENOENT: return TReason::Vanished;
        case ELOOP: return TReason::DanglingLink;
        default: return TReason::InputUnreadable;
    }
}
