#include "batch/Reasons.h"


namespace {

struct TReasonRow {
    TReason reason;
    const char* name;  // for reports a script reads
    const char* caption;
};

constexpr TReasonRow ReasonRows[] = {
    {TReason::InputUnreadable, "input-unreadable", "Cannot read the input"},
    {TReason::LinkEntryUnusable, "link-entry-unusable", "The link names nothing that can be converted"},
    {TReason::NoStreamForKind, "no-stream-for-kind", "The input has nothing to write as this format"},
    {TReason::OutputFolderUnusable, "output-folder-unusable", "Cannot write to the output folder"},
    {TReason::OutputIsInput, "output-is-input", "The output would replace the input"},
    {TReason::NameRefused, "name-refused", "The output's name cannot be used"},
    {TReason::DiskFull, "disk-full", "The disk is full"},
    {TReason::DecodingFailed, "decoding-failed", "The input could not be decoded"},
    {TReason::EncodingFailed, "encoding-failed", "The conversion failed"},
    {TReason::Stopped, "stopped", "Stopped"},
    {TReason::InputEndedEarly, "input-ended-early", "The input ends early"},
    {TReason::OutputExists, "output-exists", "The output exists already"},
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
