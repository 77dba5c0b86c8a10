#include "core/Chapters.h"

#include <algorithm>
#include <string_view>

#include "core/AvOwners.h"
#include "core/FFmpegException.h"

namespace {

constexpr std::string_view kChapterMuxers[] = {"mp4", "mov", "matroska"};

// a - b, held at the ends of the range rather than wrapping: headers may hold any time.
int64_t SaturatedMinus(int64_t a, int64_t b) {
    int64_t d;
    if (!__builtin_sub_overflow(a, b, &d)) return d;
    return b < 0 ? INT64_MAX : INT64_MIN;
}

// The chapter at `span` with the source's id, time base and title; a failure
// leaves nothing allocated.
TChapterPtr NewChapter(const AVChapter& source, TChapterSpan span) {
    TChapterPtr chapter(static_cast<AVChapter*>(avutil.av_mallocz(sizeof(AVChapter))));
    if (!chapter) throw FFmpegException("av_mallocz fail");
    chapter->id = source.id;
    chapter->time_base = source.time_base;
    chapter->start = span.start;
    chapter->end = span.end;
    if (const AVDictionaryEntry* title = avutil.av_dict_get(source.metadata, "title", nullptr, 0))
        if (avutil.av_dict_set(&chapter->metadata, "title", title->value, 0) < 0)
            throw FFmpegException("av_mallocz fail");
    return chapter;
}

void AddChapter(AVFormatContext* oc, TChapterPtr chapter) {
    // The context's count is unsigned; the array functions count in int.
    int count = static_cast<int>(oc->nb_chapters);
    if (avutil.av_dynarray_add_nofree(&oc->chapters, &count, chapter.get()) < 0)
        throw FFmpegException("av_mallocz fail");
    oc->nb_chapters = static_cast<unsigned>(count);
    chapter.release();
}

}  // namespace

std::optional<TChapterSpan> KeptChapterSpan(TChapterSpan chapter, int64_t shift, int64_t limit) {
    if (chapter.end < chapter.start) return std::nullopt;
    const int64_t start = SaturatedMinus(chapter.start, shift);
    const int64_t end = SaturatedMinus(chapter.end, shift);
    // A chapter that ends where the output begins has nothing left in it.
    if (end <= 0 || start >= limit) return std::nullopt;
    return TChapterSpan{std::max<int64_t>(start, 0), std::min(end, limit)};
}

bool KeepsChapters(const AVOutputFormat* format) {
    if (!format || !format->name) return false;
    for (std::string_view name : kChapterMuxers)
        if (name == format->name) return true;
    return false;
}

void CopyChapters(AVFormatContext** outputs, int output_count, const AVFormatContext* input, int64_t shift_us,
                  int64_t recording_us) {
    if (!input) return;
    for (int i = 0; i < output_count; ++i) {
        AVFormatContext* oc = outputs[i];
        if (!KeepsChapters(oc->oformat) || oc->nb_chapters > 0) continue;
        for (unsigned k = 0; k < input->nb_chapters; ++k) {
            const AVChapter& source = *input->chapters[k];
            if (source.time_base.num <= 0 || source.time_base.den <= 0) continue;
            const int64_t shift = avutil.av_rescale_q(shift_us, AV_TIME_BASE_Q, source.time_base);
            const int64_t limit = recording_us == INT64_MAX
                                      ? INT64_MAX
                                      : avutil.av_rescale_q(recording_us, AV_TIME_BASE_Q, source.time_base);
            const auto span = KeptChapterSpan({source.start, source.end}, shift, limit);
            if (span) AddChapter(oc, NewChapter(source, *span));
        }
    }
}
