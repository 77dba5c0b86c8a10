#pragma once
// The first input's chapters carried to the outputs whose containers keep
// chapters (MP4, QuickTime, Matroska), moved and cut to the span the run keeps.
#include <cstdint>
#include <optional>

#include "binding/Entries.h"

// A chapter's start and end, in the chapter's own time base.
struct TChapterSpan {
    int64_t start = 0;
    int64_t end = 0;
};

// Where a chapter of the input lands in an output that begins `shift` after
// the input's zero and lasts `limit` (INT64_MAX: to the end), all three in the
// chapter's time base: moved back by shift and clipped to [0, limit]; nothing
// when no part of it is kept.
std::optional<TChapterSpan> KeptChapterSpan(TChapterSpan chapter, int64_t shift, int64_t limit);

// Whether the muxer is one of those that keep chapters.
bool KeepsChapters(const AVOutputFormat* format);

// Gives each output that keeps chapters and has none yet a copy of the
// input's chapters (ids and titles kept). shift_us: the input time at the
// outputs' zero; recording_us: their length (INT64_MAX: none), both in
// microseconds. Call before the headers are written; each chapter belongs to
// its output context from then on.
void CopyChapters(AVFormatContext** outputs, int output_count, const AVFormatContext* input, int64_t shift_us,
                  int64_t recording_us);
