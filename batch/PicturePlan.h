#pragma once
// What the plan does to a source's pictures besides their size: the black
// bars it cuts and whether it deinterlaces, from the user's choice and the
// pictures sampled at listing (PictureSample.h).
#include <optional>
#include <string>
#include <vector>

#include "batch/OutputKinds.h"
#include "batch/SubtitlePlan.h"

struct TPlanChoice;
struct TSourceFacts;

// Deinterlacing: Auto when the sample finds combing and the kind does not keep
// the fields (mp4 and mkv never do; the others when they change the picture's
// height or rate); On always; Off never.
enum class TDeinterlace { Auto, On, Off };
// "auto", "on", "off"; DeinterlaceNamed reads them back, nullopt for other text.
const char* DeinterlaceName(TDeinterlace value);
std::optional<TDeinterlace> DeinterlaceNamed(const std::string& text);

struct TPicturePlan {
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;  // pixels cut from the decoded picture
    bool Deinterlace = false;
    std::vector<std::string> Options;  // engine option lines, "NAME=VALUE"
    std::vector<std::string> Notes;    // what the task's log says of it
    // The video stream as the crop leaves it (its pixel aspect kept).
    TProbedStream Cropped(const TProbedStream& video) const;
};

// Black bars are cut for the kinds with a free picture size, unless the user
// turned it off or gave a crop or filter option of their own; a sample that
// found none, or no sample, cuts nothing, and so do bands that would leave
// less than a quarter of the picture.
TPicturePlan PlanPictures(const TPlanChoice& choice, const TSourceFacts& source);
// The kind as planned for this source: a film-rate input takes the film norm
// of a kind that has one when the user gave no norm.
TOutputChoice PlannedTarget(const TPlanChoice& choice, const TSourceFacts& source);
// Whether PlanPictures would look at a sample of the pictures for this choice.
bool NeedsPictureSample(const TPlanChoice& choice);
