#pragma once
// The report a script reads while a run goes on: one JSON object a line for
// each file as it ends, appended and flushed line by line, so `jq` or a
// `tail -f` sees every ended file at once and a later run adds to the file.
//
// Each line has the same fields:
//   input            the file as given (text)
//   output           the file written, or counted as written under skip; null when none
//   outcome          OutcomeName of the record
//   reason           ReasonName of its reason; null when there is none
//   message          the details in English (the libraries' message, how much was converted); "" when none
//   input_seconds    the length the input declares; null when unknown
//   output_seconds   the length converted; null when unknown
//   elapsed_seconds  the time the file took to convert; null when it was not converted
// A name that is not valid UTF-8 is written with each byte that is not part of
// a UTF-8 character as the four characters \xNN (NN its value in upper-case
// hex), and, since such text cannot be told from a name that holds those
// characters, with its exact bytes in base64 beside it: input_bytes or
// output_bytes, present only then. Messages are text: their stray bytes are
// written as \xNN only.
#include <cstdio>
#include <string>

#include "batch/RunSummary.h"

// The line of one record, with "\n" at its end.
std::string ReportLine(const TFileRecord& record);

class TReportFile {
public:
    TReportFile() = default;
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Opens the file for appending, made when missing; false with the system's
    // reason. A last line left torn (a full disk, a kill) is ended first, so
    // the next line starts a line of its own.
    bool Open(const std::string& path, std::string& why);
    bool IsOpen() const { return file_ != nullptr; }
    // Appends the record's line and flushes it; false with the system's reason.
    bool Write(const TFileRecord& record, std::string& why);

private:
    FILE* file_ = nullptr;
    bool torn_ = false;  // the file ends in a torn line: the first write starts a new one
};
