#include "batch/SubtitlePlan.h"

#include <utility>

namespace {

// Codec option of a carried stream: the kind's text format, or a copy.
std::string CodecOf(const TOutputKind& kind, const TProbedStream& s) {
    return s.type == TProbedStream::TextSubtitle ? kind.text_subtitles : "copy";
}

bool Carried(const TOutputKind& kind, const TProbedStream& s) {
    if (s.type == TProbedStream::TextSubtitle) return kind.text_subtitles[0] != '\0';
    return s.type == TProbedStream::BitmapSubtitle && kind.bitmap_subtitles;
}

}  // namespace

TSubtitlePlan PlanSubtitles(const TOutputKind& kind, const std::vector<TProbedStream>& streams, bool keep) {
    TSubtitlePlan plan;
    if (!keep) return plan;
    // The output's first subtitle stream takes the codec options given before
    // the file opens, all of them: a "copy" among them sticks. So the copied
    // streams come first, and every further stream is added after the opening
    // ("newsubtitle") with its own codec option in front of it.
    std::vector<int> order;
    bool all = true;  // every subtitle stream carried, in file order
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < streams.size(); ++i) {
            const TProbedStream& s = streams[i];
            if (s.type != TProbedStream::TextSubtitle && s.type != TProbedStream::BitmapSubtitle) continue;
            if (!Carried(kind, s)) {
                all = false;
                continue;
            }
            const bool copied = CodecOf(kind, s) == "copy";
            if (copied == (pass == 0)) order.push_back(static_cast<int>(i));
        }
    }
    if (order.empty()) return plan;
    for (size_t k = 1; k < order.size(); ++k)
        if (order[k] < order[k - 1]) all = false;
    plan.in_file_order = all;
    for (size_t k = 1; k < order.size(); ++k) {
        plan.options.push_back("scodec=" + CodecOf(kind, streams[order[k]]));
        plan.options.push_back("newsubtitle");
    }
    plan.options.push_back("scodec=" + CodecOf(kind, streams[order[0]]));
    plan.carried = static_cast<int>(order.size());
    plan.order = std::move(order);
    return plan;
}
