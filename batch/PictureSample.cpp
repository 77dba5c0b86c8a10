#include "batch/PictureSample.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "binding/FFmpegLoader.h"
#include "core/AvOwners.h"
#include "core/FileTables.h"

namespace {

// Ten places keep a dark scene or a title from deciding alone, and a handful of
// consecutive pictures at each give idet the neighbours it compares.
constexpr int Runs = 10;
constexpr int RunPictures = 5;
// A damaged stream that never gives its pictures is read no further than this per place.
constexpr int RunPackets = 300;

// What every run adds up to; the content rectangle is the union of the runs'.
struct TTally {
    int pictures = 0;
    int width = 0, height = 0;
    int x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // inclusive pixels; x2 < x1 while no content was seen
    int combed = 0, progressive = 0, top_first = 0;
    int flagged = 0, flagged_top_first = 0;
    int top_first_matches = 0, bottom_first_matches = 0;
    int row_combed = 0, row_smooth = 0;
};

// buffer -> idet -> cropdetect -> buffersink, for pictures of one size and format.
struct TSampleGraph {
    TFilterGraphPtr graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
};

bool AddFilter(TSampleGraph& g, AVFilterContext** made, const char* filter, const std::string& args) {
    const AVFilter* f = avfilter.avfilter_get_by_name(filter);
    return f && avfilter.avfilter_graph_create_filter(made, f, filter, args.empty() ? nullptr : args.c_str(),
                                                      nullptr, g.graph.get()) >= 0;
}

// cropdetect with skip=0 measures from the first picture on, and with round=2
// leaves the rounding to us; it keeps its bounds over the whole run. idet's
// own threshold takes the slightest difference between the fields' matches for
// a field order, which a smooth gradient in motion gives too; 1.5 asks for a
// clear one.
bool MakeGraph(TSampleGraph& g, const AVFrame& picture, AVRational time_base) {
    g.graph.reset(avfilter.avfilter_graph_alloc());
    if (!g.graph) return false;
    const AVRational sar = picture.sample_aspect_ratio.num > 0 ? picture.sample_aspect_ratio : AVRational{1, 1};
    const std::string args = "video_size=" + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                             ":pix_fmt=" + std::to_string(picture.format) + ":time_base=" +
                             std::to_string(time_base.num) + "/" + std::to_string(time_base.den) +
                             ":pixel_aspect=" + std::to_string(sar.num) + "/" + std::to_string(sar.den);
    AVFilterContext *idet = nullptr, *crop = nullptr;
    return AddFilter(g, &g.source, "buffer", args) && AddFilter(g, &idet, "idet", "intl_thres=1.5") &&
           AddFilter(g, &crop, "cropdetect", "skip=0:round=2:reset=0") && AddFilter(g, &g.sink, "buffersink", "") &&
           avfilter.avfilter_link(g.source, 0, idet, 0) >= 0 && avfilter.avfilter_link(idet, 0, crop, 0) >= 0 &&
           avfilter.avfilter_link(crop, 0, g.sink, 0) >= 0 &&
           avfilter.avfilter_graph_config(g.graph.get(), nullptr) >= 0;
}

int MetaNumber(const AVFrame& frame, const char* key, int otherwise) {
    const AVDictionaryEntry* e = avutil.av_dict_get(frame.metadata, key, nullptr, 0);
    return e ? std::atoi(e->value) : otherwise;
}

// One picture out of the graph: idet's verdict on it, and cropdetect's bounds so far.
void ReadMeasures(const AVFrame& frame, TTally& run) {
    const char* const verdict = "lavfi.idet.single.current_frame";
    if (const AVDictionaryEntry* e = avutil.av_dict_get(frame.metadata, verdict, nullptr, 0)) {
        const std::string type = e->value;
        if (type == "tff" || type == "bff") ++run.combed;
        if (type == "tff") ++run.top_first;
        if (type == "progressive") ++run.progressive;
    }
    run.x1 = MetaNumber(frame, "lavfi.cropdetect.x1", run.x1);
    run.x2 = MetaNumber(frame, "lavfi.cropdetect.x2", run.x2);
    run.y1 = MetaNumber(frame, "lavfi.cropdetect.y1", run.y1);
    run.y2 = MetaNumber(frame, "lavfi.cropdetect.y2", run.y2);
}

// Mean brightness difference (levels a pixel) below which the weaves of a
// picture's bottom field with its neighbours' top fields tell no motion, and
// below which a picture has too little detail to tell its rows by.
constexpr double MotionLevels = 1.0;
// A weave this close to the picture's own (as a share of the worse
// neighbour's lead) matches as well: the fields are half a picture apart.
constexpr double FieldMatchShare = 0.5;

// How badly the rows `step` apart of `rows` fit around the rows of `mid`
// between them: the mean difference of each such row from the mean of its two
// neighbours, over rows first, first + step, ...
double RowCost(const AVFrame& mid, const AVFrame& rows, int first, int step, int lag) {
    double sum = 0;
    int64_t count = 0;
    for (int y = first; y + lag < mid.height; y += step) {
        if (y < lag) continue;
        const uint8_t* m = mid.data[0] + static_cast<ptrdiff_t>(y) * mid.linesize[0];
        const uint8_t* above = rows.data[0] + static_cast<ptrdiff_t>(y - lag) * rows.linesize[0];
        const uint8_t* below = rows.data[0] + static_cast<ptrdiff_t>(y + lag) * rows.linesize[0];
        int64_t row = 0;
        for (int x = 0; x < mid.width; ++x) row += std::abs(2 * m[x] - above[x] - below[x]);
        sum += static_cast<double>(row) / 2;
        count += mid.width;
    }
    return count > 0 ? sum / static_cast<double>(count) : 0;
}

// Pictures whose first plane is 8-bit brightness.
bool EightBitLuma(const AVFrame& f) {
    const AVPixFmtDescriptor* d = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
    return d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) &&
           d->comp[0].depth == 8 && d->comp[0].step == 1 && f.height >= 6;
}

// One picture's rows: told by the other field's (one away) or its own (two away).
void MeasureRows(const AVFrame& picture, TTally& run) {
    if (!EightBitLuma(picture)) return;
    const double other = RowCost(picture, picture, 0, 1, 1), own = RowCost(picture, picture, 0, 1, 2);
    if (std::max(other, own) < MotionLevels) return;
    ++(other > own ? run.row_combed : run.row_smooth);
}

// The field order the middle of three consecutive pictures shows, if any.
void MatchFields(const AVFrame& before, const AVFrame& picture, const AVFrame& after, TTally& run) {
    if (!EightBitLuma(picture) || before.format != picture.format || after.format != picture.format ||
        before.width != picture.width || after.width != picture.width || before.height != picture.height ||
        after.height != picture.height)
        return;
    const double own = RowCost(picture, picture, 1, 2, 1);
    const double lead_before = RowCost(picture, before, 1, 2, 1) - own;
    const double lead_after = RowCost(picture, after, 1, 2, 1) - own;
    const double worse = std::max(lead_before, lead_after), better = std::min(lead_before, lead_after);
    if (worse < MotionLevels || better >= FieldMatchShare * worse) return;
    // The bottom field lies between its own top field and the next one's: top first.
    ++(lead_after < lead_before ? run.top_first_matches : run.bottom_first_matches);
}

class TSampler {
public:
    TSampler(AVFormatContext* input, int stream) : input_(input), stream_(input->streams[stream]) {}
    ~TSampler() {
        std::lock_guard<std::mutex> lock(CodecLock);
        dec_.reset();
    }
    bool OpenDecoder();
    void Run(int64_t at_us);
    TTally tally;

private:
    bool NextPicture(AVFrame* picture, int& packets);
    bool Feed(AVFrame* picture);
    void EndRun();

    AVFormatContext* input_;
    AVStream* stream_;
    TCodecContextPtr dec_;
    TPacketPtr packet_{avcodec.av_packet_alloc()};
    TSampleGraph graph_;
    TTally run_;
    int64_t last_pts_ = AV_NOPTS_VALUE;  // the last picture taken, stream time base
};

bool TSampler::OpenDecoder() {
    const AVCodec* codec = avcodec.avcodec_find_decoder(stream_->codecpar->codec_id);
    if (!codec || !packet_) return false;
    dec_.reset(avcodec.avcodec_alloc_context3(codec));
    if (!dec_ || avcodec.avcodec_parameters_to_context(dec_.get(), stream_->codecpar) < 0) return false;
    // One thread: frame threads would hold pictures back, and a few pictures need none.
    dec_->thread_count = 1;
    std::lock_guard<std::mutex> lock(CodecLock);
    return avcodec.avcodec_open2(dec_.get(), codec, nullptr) >= 0;
}

// The next decoded picture of the stream, past those taken before (a short
// file gives the same pictures to several places); false at the end, on an
// error, or after RunPackets packets.
bool TSampler::NextPicture(AVFrame* picture, int& packets) {
    for (;;) {
        const int got = avcodec.avcodec_receive_frame(dec_.get(), picture);
        if (got >= 0) {
            const int64_t pts = picture->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && last_pts_ != AV_NOPTS_VALUE && pts <= last_pts_) continue;
            if (pts != AV_NOPTS_VALUE) last_pts_ = pts;
            return true;
        }
        if (got != AVERROR(EAGAIN) || ++packets > RunPackets) return false;
        avcodec.av_packet_unref(packet_.get());
        if (avformat.av_read_frame(input_, packet_.get()) < 0) {
            avcodec.avcodec_send_packet(dec_.get(), nullptr);  // the decoder's last pictures
            continue;
        }
        if (packet_->stream_index == stream_->index) avcodec.avcodec_send_packet(dec_.get(), packet_.get());
    }
}

// Hands a picture to this run's graph, made for the run's first picture; a
// picture of another size or format ends the run's measuring.
bool TSampler::Feed(AVFrame* picture) {
    if (!graph_.graph) {
        if (tally.width == 0) {
            tally.width = picture->width;
            tally.height = picture->height;
        }
        if (picture->width != tally.width || picture->height != tally.height) return false;
        if (!MakeGraph(graph_, *picture, stream_->time_base)) return false;
    }
    // The decoder's own marks, before idet writes its findings over them.
    if (picture->interlaced_frame) {
        ++run_.flagged;
        if (picture->top_field_first) ++run_.flagged_top_first;
    }
    return avfilter.av_buffersrc_add_frame_flags(graph_.source, picture, 0) >= 0;
}

// idet answers a picture late: the end of the run lets the last one out.
void TSampler::EndRun() {
    if (!graph_.graph) return;
    const bool ended = avfilter.av_buffersrc_add_frame_flags(graph_.source, nullptr, 0) >= 0;
    // The run's last three pictures, the newest last, for the field matching.
    TFramePtr window[3] = {TFramePtr(avutil.av_frame_alloc()), TFramePtr(avutil.av_frame_alloc()),
                           TFramePtr(avutil.av_frame_alloc())};
    TFramePtr out(avutil.av_frame_alloc());
    int seen = 0;
    while (ended && out && window[0] && window[1] && window[2] && avfilter.av_buffersink_get_frame(graph_.sink, out.get()) >= 0) {
        ReadMeasures(*out, run_);
        MeasureRows(*out, run_);
        ++run_.pictures;
        std::swap(window[0], window[1]);
        std::swap(window[1], window[2]);
        avutil.av_frame_unref(window[2].get());
        std::swap(window[2], out);
        if (++seen >= 3) MatchFields(*window[0], *window[1], *window[2], run_);
    }
    graph_.graph.reset();
    tally.pictures += run_.pictures;
    tally.combed += run_.combed;
    tally.progressive += run_.progressive;
    tally.top_first += run_.top_first;
    tally.flagged += run_.flagged;
    tally.flagged_top_first += run_.flagged_top_first;
    tally.top_first_matches += run_.top_first_matches;
    tally.bottom_first_matches += run_.bottom_first_matches;
    tally.row_combed += run_.row_combed;
    tally.row_smooth += run_.row_smooth;
    if (run_.x1 > run_.x2 || run_.y1 > run_.y2) return;  // black throughout: no content to hold
    const bool first = tally.x1 > tally.x2;
    tally.x1 = first ? run_.x1 : std::min(tally.x1, run_.x1);
    tally.y1 = first ? run_.y1 : std::min(tally.y1, run_.y1);
    tally.x2 = first ? run_.x2 : std::max(tally.x2, run_.x2);
    tally.y2 = first ? run_.y2 : std::max(tally.y2, run_.y2);
}

// A run of pictures from the key picture at or before at_us (microseconds).
void TSampler::Run(int64_t at_us) {
    if (avformat.av_seek_frame(input_, -1, at_us, AVSEEK_FLAG_BACKWARD) < 0) return;
    avcodec.avcodec_flush_buffers(dec_.get());
    run_ = TTally{};
    TFramePtr picture(avutil.av_frame_alloc());
    int packets = 0;
    for (int taken = 0; picture && taken < RunPictures && NextPicture(picture.get(), packets); ++taken) {
        const bool fed = Feed(picture.get());
        avutil.av_frame_unref(picture.get());
        if (!fed) break;
    }
    EndRun();
}

// The content rectangle as bands to cut, each even (4:2:0 chroma rows and
// columns), never into the content.
TPictureSample SampleOf(const TTally& t) {
    TPictureSample sample;
    if (t.pictures < 2) return sample;  // a single picture says nothing of the rest
    sample.Pictures = t.pictures;
    sample.Width = t.width;
    sample.Height = t.height;
    sample.CombedPictures = t.combed;
    sample.ProgressivePictures = t.progressive;
    sample.TopFirstPictures = t.top_first;
    sample.FlaggedPictures = t.flagged;
    sample.FlaggedTopFirstPictures = t.flagged_top_first;
    sample.TopFirstMatches = t.top_first_matches;
    sample.BottomFirstMatches = t.bottom_first_matches;
    sample.RowCombedPictures = t.row_combed;
    sample.RowSmoothPictures = t.row_smooth;
    if (t.x1 > t.x2 || t.y1 > t.y2) return sample;
    auto even = [](int pixels) { return std::max(pixels, 0) & ~1; };
    sample.CropLeft = even(t.x1);
    sample.CropTop = even(t.y1);
    sample.CropRight = even(t.width - 1 - t.x2);
    sample.CropBottom = even(t.height - 1 - t.y2);
    return sample;
}

int FirstVideoStream(const AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(input->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    return -1;
}

}  // namespace

TPictureSample SamplePictures(AVFormatContext* input) {
    const int stream = input ? FirstVideoStream(input) : -1;
    if (stream < 0 || !FFmpegLoader().LibLoaded(TFFmpegLib::avfilter)) return {};
    try {
        TSampler sampler(input, stream);
        if (!sampler.OpenDecoder()) return {};
        const int64_t start = input->start_time == AV_NOPTS_VALUE ? 0 : input->start_time;
        const int64_t length = input->duration == AV_NOPTS_VALUE ? 0 : input->duration;
        // Without a known length only the start can be looked at.
        for (int run = 0; run < (length > 0 ? Runs : 1); ++run)
            sampler.Run(start + length * (2 * run + 1) / (2 * Runs));
        TPictureSample sample = SampleOf(sampler.tally);
        const AVStream* st = input->streams[stream];
        const AVRational rate = st->r_frame_rate.num > 0 ? st->r_frame_rate : st->avg_frame_rate;
        if (sample.Pictures > 0 && rate.num > 0 && rate.den > 0) {
            sample.RateNum = rate.num;
            sample.RateDen = rate.den;
        }
        return sample;
    } catch (const std::exception&) {
        return {};  // out of memory: no sample, like a file without one
    }
}
