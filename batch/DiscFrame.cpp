#include "batch/DiscFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "core/TargetPresets.h"

namespace {

bool IsTarget(const TOutputChoice& to, const char* target) { return std::string(to.kind->target) == target; }

// DVD-Video and DV know a 16:9 frame; the Video CDs only 4:3.
bool HasWideFrame(const TOutputChoice& to) { return IsTarget(to, "dvd") || IsTarget(to, "dv") || IsTarget(to, "dv50"); }
bool IsDv(const TOutputChoice& to) { return IsTarget(to, "dv") || IsTarget(to, "dv50"); }

// A line of the user's own options that names one of these options.
bool UserSets(const std::vector<std::string>& options, std::initializer_list<const char*> names) {
    for (const std::string& line : options) {
        const std::string name = line.substr(0, line.find('='));
        for (const char* n : names)
            if (name == n || (std::string(n).back() == '*' && name.rfind(std::string(n, std::strlen(n) - 1), 0) == 0))
                return true;
    }
    return false;
}

// "5:4", "16:9"; "2.35:1" where the reduced numbers would mean little.
std::string AspectText(int64_t num, int64_t den) {
    const int64_t g = std::gcd(num, den);
    if (g > 0 && num / g <= 32 && den / g <= 32) return std::to_string(num / g) + ":" + std::to_string(den / g);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f:1", static_cast<double>(num) / static_cast<double>(den));
    return text;
}

// The nearest multiple of step to x, within 0..limit.
int Nearest(double x, int step, int limit) {
    return std::clamp(static_cast<int>(std::lround(x / step)) * step, 0, limit);
}

// Bars of `bars` pixels split over two sides, each a multiple of step, the
// first side the smaller.
std::pair<int, int> Split(int bars, int step) {
    const int first = bars / 2 / step * step;
    return {first, bars - first};
}

std::string SidesText(std::pair<int, int> sides, const char* unit, const char* a, const char* b) {
    const std::string n = std::to_string(sides.first) + " " + unit + " ";
    if (sides.first == sides.second) return n + a + " and " + b;
    return n + a + ", " + std::to_string(sides.second) + " " + b;
}

bool FilmRate(int num, int den) {
    if (num <= 0 || den <= 0) return false;
    const long r = std::lrint(1000.0 * num / den);
    return r == 23976 || r == 24000;
}

}  // namespace

TOutputChoice PlannedTarget(const TOutputChoice& to, int rate_num, int rate_den) {
    TOutputChoice planned = to;
    if (to.kind && to.kind->film_rate && to.norm.empty() && FilmRate(rate_num, rate_den)) planned.norm = "film";
    return planned;
}

std::optional<TDiscFrame> PlanDiscFrame(const TOutputChoice& to, const TProbedStream& video,
                                        const std::vector<std::string>& user_options) {
    if (!to.kind || !to.kind->target[0] || video.Width <= 0 || video.Height <= 0) return std::nullopt;
    if (UserSets(user_options, {"s", "aspect", "pad*"})) return std::nullopt;
    const auto target = TargetPicture(to.kind->target, to.norm, video.RateNum, video.RateDen);
    if (!target) return std::nullopt;
    TDiscFrame frame;
    frame.Width = frame.InnerWidth = target->width;
    frame.Height = frame.InnerHeight = target->height;
    frame.RateNum = target->rate_num;
    frame.RateDen = target->rate_den;
    const bool square = video.SampleAspectNum <= 0 || video.SampleAspectDen <= 0;
    const int64_t num = static_cast<int64_t>(video.Width) * (square ? 1 : video.SampleAspectNum);
    const int64_t den = static_cast<int64_t>(video.Height) * (square ? 1 : video.SampleAspectDen);
    const double shown = static_cast<double>(num) / static_cast<double>(den);
    // The kind's shape nearest to the source's, as a ratio either way.
    const bool wide = HasWideFrame(to) && std::fabs(std::log(shown * 9 / 16)) < std::fabs(std::log(shown * 3 / 4));
    const double frame_shape = wide ? 16.0 / 9 : 4.0 / 3;
    const char* frame_text = wide ? "16:9" : "4:3";
    frame.Options.push_back(std::string("aspect=") + frame_text);
    // Rows and columns in pairs (4:2:0 colour), DV's columns in fours (4:1:1).
    const int column_step = IsDv(to) ? 4 : 2;
    if (shown > frame_shape) {
        frame.InnerHeight = Nearest(frame.Height * frame_shape / shown, 2, frame.Height);
    } else {
        frame.InnerWidth = Nearest(frame.Width * shown / frame_shape, column_step, frame.Width);
    }
    frame.InnerHeight = std::max(frame.InnerHeight, 2);
    frame.InnerWidth = std::max(frame.InnerWidth, column_step);
    const std::string what = AspectText(num, den) + " into " + frame_text + ": ";
    if (frame.InnerHeight < frame.Height) {
        const auto sides = Split(frame.Height - frame.InnerHeight, 2);
        frame.Options.push_back("padtop=" + std::to_string(sides.first));
        frame.Options.push_back("padbottom=" + std::to_string(sides.second));
        frame.Notes.push_back("Letterboxing " + what + SidesText(sides, "lines", "top", "bottom"));
    } else if (frame.InnerWidth < frame.Width) {
        const auto sides = Split(frame.Width - frame.InnerWidth, column_step);
        frame.Options.push_back("padleft=" + std::to_string(sides.first));
        frame.Options.push_back("padright=" + std::to_string(sides.second));
        frame.Notes.push_back("Pillarboxing " + what + SidesText(sides, "columns", "left", "right"));
    } else if (wide) {
        frame.Notes.push_back("Writing " + AspectText(num, den) + " in the 16:9 frame");
    }
    if (frame.InnerWidth < frame.Width || frame.InnerHeight < frame.Height)
        frame.Options.insert(frame.Options.begin(),
                             "s=" + std::to_string(frame.InnerWidth) + "x" + std::to_string(frame.InnerHeight));
    return frame;
}

bool FrameKeepsFields(const TOutputChoice& to, const TDiscFrame& frame, const TPictureSample& sample) {
    if (IsTarget(to, "vcd")) return false;  // MPEG-1 has no fields
    return frame.InnerHeight == frame.Height && frame.Height == sample.Height &&
           static_cast<int64_t>(frame.RateNum) * sample.RateDen == static_cast<int64_t>(sample.RateNum) * frame.RateDen;
}

std::vector<std::string> FieldOptions(const TOutputChoice& to, const TPictureSample& sample,
                                      const std::vector<std::string>& user_options) {
    const bool top_first = sample.TopFieldFirst();
    if (!IsDv(to))
        return {"flags=+ildct+ilme", "alternate_scan=1", std::string("top=") + (top_first ? "1" : "0")};
    if (!top_first) return {"flags=+ildct", "top=0"};
    // The core takes no crop beside a filter graph, and the user's graph is the user's.
    if (UserSets(user_options, {"crop*", "vfilters"})) return {};
    return {"flags=+ildct", "top=0", "vfilters=setfield=tff,fieldorder=bff"};
}
