#include "batch/PicturePlan.h"

#include <cstdint>

#include "batch/OutputPlan.h"
#include "core/TargetPresets.h"

namespace {

constexpr const char* DeinterlaceNames[] = {"auto", "on", "off"};

// Crop options are the user's own, and the core takes no crop beside a filter graph.
bool ManualPictureOptions(const std::vector<std::string>& options) {
    for (const std::string& line : options)
        if (line.rfind("crop", 0) == 0 || line.rfind("vfilters", 0) == 0) return true;
    return false;
}

// A target keeps the fields when it writes them at the source's height and rate.
bool KeepsFields(const TOutputChoice& to, const TPictureSample& sample) {
    if (!to.kind->target[0]) return false;
    const auto target = TargetPicture(to.kind->target, to.norm, sample.RateNum, sample.RateDen);
    return target && target->height == sample.Height &&
           static_cast<int64_t>(target->rate_num) * sample.RateDen ==
               static_cast<int64_t>(sample.RateNum) * target->rate_den;
}

bool Deinterlaced(const TPlanChoice& choice, const TPictureSample& sample) {
    switch (choice.Deinterlace) {
        case TDeinterlace::On: return true;
        case TDeinterlace::Off: return false;
        case TDeinterlace::Auto: break;
    }
    return sample.Interlaced() && (choice.To.kind->size_limit || !KeepsFields(choice.To, sample));
}

// Bands that would leave less than a quarter of the picture are a dark video's
// content, not bars (a night scene throughout, credits on black).
bool LeavesAPicture(const TPictureSample& s) {
    return (s.Width - s.CropLeft - s.CropRight) * 4 >= s.Width && (s.Height - s.CropTop - s.CropBottom) * 4 >= s.Height;
}

void PlanCrop(TPicturePlan& plan, const TPictureSample& sample) {
    if (!LeavesAPicture(sample)) return;
    const struct {
        const char* side;
        int pixels;
        int TPicturePlan::*band;
    } bands[] = {{"top", sample.CropTop, &TPicturePlan::CropTop},
                 {"bottom", sample.CropBottom, &TPicturePlan::CropBottom},
                 {"left", sample.CropLeft, &TPicturePlan::CropLeft},
                 {"right", sample.CropRight, &TPicturePlan::CropRight}};
    std::string told;
    for (const auto& b : bands) {
        if (b.pixels <= 0) continue;
        plan.*b.band = b.pixels;
        plan.Options.push_back(std::string("crop") + b.side + "=" + std::to_string(b.pixels));
        told += (told.empty() ? "" : ", ") + std::to_string(b.pixels) + " " + b.side;
    }
    if (!told.empty()) plan.Notes.push_back("Removing black bars: " + told);
}

}  // namespace

const char* DeinterlaceName(TDeinterlace value) { return DeinterlaceNames[static_cast<int>(value)]; }

std::optional<TDeinterlace> DeinterlaceNamed(const std::string& text) {
    for (int i = 0; i < 3; ++i)
        if (text == DeinterlaceNames[i]) return static_cast<TDeinterlace>(i);
    return std::nullopt;
}

TProbedStream TPicturePlan::Cropped(const TProbedStream& video) const {
    TProbedStream shown = video;
    shown.Width -= CropLeft + CropRight;
    shown.Height -= CropTop + CropBottom;
    return shown;
}

bool NeedsPictureSample(const TPlanChoice& choice) {
    const TOutputKind& kind = *choice.To.kind;
    if (!kind.needs_video) return false;
    return (kind.size_limit && choice.RemoveBlackBars && !ManualPictureOptions(choice.Options)) ||
           choice.Deinterlace == TDeinterlace::Auto;
}

TPicturePlan PlanPictures(const TPlanChoice& choice, const TSourceFacts& source) {
    TPicturePlan plan;
    const TOutputKind& kind = *choice.To.kind;
    if (!kind.needs_video) return plan;
    const TPictureSample& sample = source.Pictures;
    if (kind.size_limit && choice.RemoveBlackBars && sample.Pictures > 0 && !ManualPictureOptions(choice.Options))
        PlanCrop(plan, sample);
    // The core's own five-tap deinterlacer, not a library filter in the chain:
    // it works on the decoded picture before the crop and the scaler, keeps
    // every picture and its time (one out for one in), and goes with crop
    // options and a user's filter graph alike, which the chain does not.
    plan.Deinterlace = Deinterlaced(choice, sample);
    if (plan.Deinterlace) plan.Options.push_back("deinterlace");
    if (plan.Deinterlace && choice.Deinterlace == TDeinterlace::Auto)
        plan.Notes.push_back("Input looks interlaced: deinterlacing");
    return plan;
}
