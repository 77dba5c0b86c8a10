#include "batch/PicturePlan.h"

#include <cstdint>

#include "batch/OutputPlan.h"
#include "batch/DiscFrame.h"

namespace {

constexpr const char* DeinterlaceNames[] = {"auto", "on", "off"};

// Crop options are the user's own, and the core takes no crop beside a filter graph.
bool ManualPictureOptions(const std::vector<std::string>& options) {
    for (const std::string& line : options)
        if (line.rfind("crop", 0) == 0 || line.rfind("vfilters", 0) == 0) return true;
    return false;
}

// Whether the picture is deinterlaced: a kind of free size never keeps the
// fields, a disc or tape kind does where its frame keeps them.
bool Deinterlaced(const TPlanChoice& choice, const TPictureSample& sample, bool keeps_fields) {
    switch (choice.Deinterlace) {
        case TDeinterlace::On: return true;
        case TDeinterlace::Off: return false;
        case TDeinterlace::Auto: break;
    }
    return sample.Interlaced() && (choice.To.kind->size_limit || !keeps_fields);
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

// The first video stream, its rate the sample's where the probe read none.
std::optional<TProbedStream> SourceVideo(const TSourceFacts& source) {
    for (TProbedStream s : source.Streams) {
        if (s.type != TProbedStream::Video) continue;
        if ((s.RateNum <= 0 || s.RateDen <= 0) && source.Pictures.RateNum > 0) {
            s.RateNum = source.Pictures.RateNum;
            s.RateDen = source.Pictures.RateDen;
        }
        return s;
    }
    return std::nullopt;
}

}  // namespace

TOutputChoice PlannedTarget(const TPlanChoice& choice, const TSourceFacts& source) {
    const std::optional<TProbedStream> video = SourceVideo(source);
    return video ? PlannedTarget(choice.To, video->RateNum, video->RateDen) : choice.To;
}

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
    const std::optional<TProbedStream> video = SourceVideo(source);
    const TOutputChoice to = PlannedTarget(choice, source);
    const std::optional<TDiscFrame> frame = video ? PlanDiscFrame(to, *video, choice.Options) : std::nullopt;
    if (frame) {
        plan.Options.insert(plan.Options.end(), frame->Options.begin(), frame->Options.end());
        plan.Notes.insert(plan.Notes.end(), frame->Notes.begin(), frame->Notes.end());
    }
    const std::vector<std::string> fields = frame && sample.Interlaced() && sample.FieldOrderKnown() &&
                                                    FrameKeepsFields(to, *frame, sample)
                                                ? FieldOptions(to, sample, choice.Options)
                                                : std::vector<std::string>{};
    // The core's own five-tap deinterlacer, not a library filter in the chain:
    // it works on the decoded picture before the crop and the scaler, keeps
    // every picture and its time (one out for one in), and goes with crop
    // options and a user's filter graph alike, which the chain does not.
    plan.Deinterlace = Deinterlaced(choice, sample, !fields.empty());
    if (plan.Deinterlace) plan.Options.push_back("deinterlace");
    if (plan.Deinterlace && choice.Deinterlace == TDeinterlace::Auto)
        plan.Notes.push_back("Input looks interlaced: deinterlacing");
    if (!plan.Deinterlace && !fields.empty()) {
        plan.Options.insert(plan.Options.end(), fields.begin(), fields.end());
        plan.Notes.push_back(std::string("Input looks interlaced: keeping its fields, ") +
                             (sample.TopFieldFirst() ? "top" : "bottom") + " field first");
    }
    return plan;
}
