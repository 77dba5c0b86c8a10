#include "batch/Reasons.h"


namespace {

struct TReasonRow {
    TReason reason;
    const char* caption;
};

constexpr TReasonRow ReasonRows[] = {
    {TReason::InputUnreadable, "Cannot read the input"},
    {TReason::LinkEntryUnusable, "The link names nothing that can be converted"},
    {TReason::NoStreamForKind, "The input has nothing to write as this format"},
    {TReason::OutputFolderUnusable, "Cannot write to the output folder"},
    {TReason::OutputIsInput, "The output would replace the input"},
    {TReason::NameRefused, "The output's name cannot be used"},
    {TReason::DiskFull, "The disk is full"},
    {TReason::DecodingFailed, "The input could not be decoded"},
    {TReason::EncodingFailed, "The conversion failed"},
    {TReason::Stopped, "Stopped"},
    {TReason::InputEndedEarly, "The input ends early"},
};

}  // namespace

const char* ReasonCaption(TReason reason) {
    for (const TReasonRow& row : ReasonRows)
        if (row.reason == reason) return row.caption;
    return "";
}

std::vector<TReason> AllReasons() {
    std::vector<TReason> all;
    for (const TReasonRow& row : ReasonRows) all.push_back(row.reason);
    return all;
}
