#pragma once
// The picture of a disc or tape kind (a target preset's fixed frame): the
// norm a film-rate input takes, the frame the source's shape is kept in
// (black bars, or the 16:9 frame where the kind has one), and how its fields
// are coded when they are kept.
#include <optional>
#include <string>
#include <vector>

#include "batch/OutputKinds.h"
#include "batch/PictureSample.h"
#include "batch/SubtitlePlan.h"

// The kind as the plan writes it: a film-rate input (23.976 or 24 pictures a
// second) takes the film norm of a kind that has one when no norm was given.
TOutputChoice PlannedTarget(const TOutputChoice& to, int rate_num, int rate_den);

struct TDiscFrame {
    int Width = 0, Height = 0;            // the target's frame, pixels
    int InnerWidth = 0, InnerHeight = 0;  // the part the source's picture fills
    int RateNum = 0, RateDen = 1;         // the target's pictures a second
    std::vector<std::string> Options;     // engine option lines, "NAME=VALUE"
    std::vector<std::string> Notes;
};

// The frame of a target kind for a source's video: the nearer of the kind's
// shapes (4:3, and 16:9 for DVD and DV), with black bars where the source's
// shape is not that one. nullopt for a kind without a target, an unknown
// picture size, or a user who set the size, the aspect or the padding.
std::optional<TDiscFrame> PlanDiscFrame(const TOutputChoice& to, const TProbedStream& video,
                                        const std::vector<std::string>& user_options);

// Whether a target codes the fields of an interlaced input as they are: a
// kind with field coding (not MPEG-1), at the source's rate, its rows all
// kept (no norm change, no letterbox).
bool FrameKeepsFields(const TOutputChoice& to, const TDiscFrame& frame, const TPictureSample& sample);

// The engine options that code an interlaced input's fields in their order:
// field DCT and motion for MPEG-2, with the source's first field in the
// headers; DV is bottom field first, so a top-first source's fields are
// swapped by moving the picture down a row. Empty when that needs a filter
// the user's own options rule out (the caller deinterlaces then).
std::vector<std::string> FieldOptions(const TOutputChoice& to, const TPictureSample& sample,
                                      const std::vector<std::string>& user_options);
