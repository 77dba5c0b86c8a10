// The video filter chain of an output stream (buffer source, an optional
// scaler, the user's chain, a buffer sink limited to the encoder's pixel
// format), and the picture operations of VideoFilters.h.
#include "core/VideoFilters.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

uint8_t Clip(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

void DeinterlaceLine(uint8_t* dst, const uint8_t* m2, const uint8_t* m1, const uint8_t* c, const uint8_t* p1,
                     const uint8_t* p2, int width) {
    for (int x = 0; x < width; ++x) {
        const int sum = -m2[x] + (m1[x] << 2) + (c[x] << 1) + (p1[x] << 2) - p2[x];
        dst[x] = Clip((sum + 4) >> 3);
    }
}

void DeinterlacePlane(uint8_t* dst, int dst_wrap, const uint8_t* src, int src_wrap, int width, int height) {
    const uint8_t* m2 = src;
    const uint8_t* m1 = src;
    const uint8_t* c = src + src_wrap;
    const uint8_t* p1 = c + src_wrap;
    const uint8_t* p2 = p1 + src_wrap;
    for (int y = 0; y < height - 2; y += 2) {
        std::memcpy(dst, m1, static_cast<size_t>(width));
        dst += dst_wrap;
        DeinterlaceLine(dst, m2, m1, c, p1, p2, width);
        dst += dst_wrap;
        m2 = c;
        m1 = p1;
        c = p2;
        p1 += 2 * src_wrap;
        p2 += 2 * src_wrap;
    }
    std::memcpy(dst, m1, static_cast<size_t>(width));
    dst += dst_wrap;
    DeinterlaceLine(dst, m2, m1, c, c, c, width);
}

// Chroma width and height shifts of the planar formats both operations know;
// false for any other format.
bool PlanarShifts(AVPixelFormat format, int& hshift, int& vshift, int& planes) {
    planes = 3;
    hshift = vshift = 0;
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: hshift = vshift = 1; return true;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P: hshift = 1; return true;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P: return true;
    case AV_PIX_FMT_YUV411P: hshift = 2; return true;
    case AV_PIX_FMT_YUV410P: hshift = vshift = 2; return true;
    case AV_PIX_FMT_GRAY8: planes = 1; return true;
    default: return false;
    }
}

}  // namespace

int DeinterlacePicture(const TPictureView& dst, const TPictureView& src, AVPixelFormat format, int width,
                       int height) {
    int hshift = 0, vshift = 0, planes = 0;
    if (format == AV_PIX_FMT_YUV410P || !PlanarShifts(format, hshift, vshift, planes)) return -1;
    if ((width & 3) != 0 || (height & 3) != 0 || width <= 0 || height <= 0) return -1;
    for (int i = 0; i < planes; ++i) {
        const int w = i == 0 ? width : width >> hshift;
        const int h = i == 0 ? height : height >> vshift;
        DeinterlacePlane(dst.data[i], dst.linesize[i], src.data[i], src.linesize[i], w, h);
    }
    return 0;
}

int PadPicture(const TPictureView& dst, const TPictureView* src, int height, int width, AVPixelFormat format,
               int pad_top, int pad_bottom, int pad_left, int pad_right, const std::array<int, 3>& color) {
    int hshift = 0, vshift = 0, planes = 0;
    if (!PlanarShifts(format, hshift, vshift, planes)) return -1;
    if (pad_top < 0 || pad_bottom < 0 || pad_left < 0 || pad_right < 0 || pad_left + pad_right > width ||
        pad_top + pad_bottom > height)
        return -1;
    for (int i = 0; i < planes; ++i) {
        const int xs = i == 0 ? 0 : hshift;
        const int ys = i == 0 ? 0 : vshift;
        const int w = -((-width) >> xs);  // rounded up, as the planes are allocated
        const int h = -((-height) >> ys);
        const int top = pad_top >> ys, bottom = pad_bottom >> ys;
        const int left = pad_left >> xs, right = pad_right >> xs;
        const int inner = std::max(0, w - left - right);
        const auto value = static_cast<uint8_t>(std::clamp(color[i], 0, 255));
        for (int y = 0; y < h; ++y) {
            uint8_t* row = dst.data[i] + static_cast<ptrdiff_t>(y) * dst.linesize[i];
            if (y < top || y >= h - bottom) {
                std::memset(row, value, static_cast<size_t>(w));
                continue;
            }
            std::memset(row, value, static_cast<size_t>(std::min(left, w)));
            if (src && src->data[i])
                std::memcpy(row + left, src->data[i] + static_cast<ptrdiff_t>(y - top) * src->linesize[i],
                            static_cast<size_t>(inner));
            if (w - right >= left) std::memset(row + w - right, value, static_cast<size_t>(right));
        }
    }
    return 0;
}

int TCustomFFmpeg::ConfigureFilters(TInputStreamState& ist, TOutputStreamState& ost) {
    if (crop_top + crop_bottom + crop_left + crop_right != 0) {
        last_error = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    const AVCodecContext* dec = ist.dec;
    if (BuildFilterGraph(ost, dec->width, dec->height, dec->pix_fmt, dec->sample_aspect_ratio) < 0) return -1;
    const int w = avfilter.av_buffersink_get_w(ost.output_filter);
    const int h = avfilter.av_buffersink_get_h(ost.output_filter);
    if (pad_top + pad_bottom + pad_left + pad_right != 0 && (w != frame_width || h != frame_height)) {
        last_error =
            "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, scale, "
            "transpose, etc.)";
        return -1;
    }
    ost.enc->width = w + pad_left + pad_right;
    ost.enc->height = h + pad_top + pad_bottom;
    // The encoder shows the pictures as the chain left them (setsar, a scale).
    const AVRational sar = avfilter.av_buffersink_get_sample_aspect_ratio(ost.output_filter);
    if (sar.num > 0 && sar.den > 0) {
        ost.enc->sample_aspect_ratio = sar;
        ost.stream->sample_aspect_ratio = sar;
    }
    return 0;
}

int TCustomFFmpeg::BuildFilterGraph(TOutputStreamState& ost, int width, int height, int format, AVRational sar) {
    const AVCodecContext* enc = ost.enc;
    TFilterGraphPtr graph(avfilter.avfilter_graph_alloc());
    if (!graph) return -1;
    graph->opaque = this;  // names the task in lines its filters log on the graph's threads
    const int sws_flags = SwsFlags();
    // The source takes the decoder's pictures with their times in microseconds.
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    const std::string src_args = FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", width,
                                            height, format, AV_TIME_BASE, sar.num, sar.den);
    AVFilterContext* src = nullptr;
    if (avfilter.avfilter_graph_create_filter(&src, avfilter.avfilter_get_by_name("buffer"), "src",
                                              src_args.c_str(), nullptr, graph.get()) < 0)
        return -1;
    // The sink hands out exactly the encoder's pixel format.
    AVFilterContext* out =
        avfilter.avfilter_graph_alloc_filter(graph.get(), avfilter.avfilter_get_by_name("buffersink"), "out");
    if (!out) return -1;
    const AVPixelFormat formats[1] = {enc->pix_fmt};
    if (avutil.av_opt_set_bin(out, "pix_fmts", reinterpret_cast<const uint8_t*>(formats), sizeof formats,
                              AV_OPT_SEARCH_CHILDREN) < 0 ||
        avfilter.avfilter_init_str(out, nullptr) < 0)
        return -1;

    AVFilterContext* last = src;
    const int want_w = enc->width - (pad_left + pad_right);
    const int want_h = enc->height - (pad_top + pad_bottom);
    if (width + pad_left + pad_right != enc->width || height + pad_top + pad_bottom != enc->height) {
        AVFilterContext* scale = nullptr;
        const std::string args = FormatText("%d:%d:flags=%d", want_w, want_h, sws_flags);
        if (avfilter.avfilter_graph_create_filter(&scale, avfilter.avfilter_get_by_name("scale"), "scale",
                                                  args.c_str(), nullptr, graph.get()) < 0)
            return -1;
        if (avfilter.avfilter_link(last, 0, scale, 0) < 0) return -1;
        last = scale;
    }
    // Scalers the graph adds itself (format conversions) use the same flags.
    graph->scale_sws_opts = avutil.av_strdup(FormatText("flags=%d", sws_flags).c_str());

    if (!video_filters.empty()) {
        AVFilterInOut* outputs = avfilter.avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter.avfilter_inout_alloc();
        if (!outputs || !inputs) {
            avfilter.avfilter_inout_free(&outputs);
            avfilter.avfilter_inout_free(&inputs);
            return -1;
        }
        outputs->name = avutil.av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = avutil.av_strdup("out");
        inputs->filter_ctx = out;
        inputs->pad_idx = 0;
        const int r = avfilter.avfilter_graph_parse_ptr(graph.get(), video_filters.c_str(), &inputs, &outputs,
                                                        nullptr);
        avfilter.avfilter_inout_free(&outputs);
        avfilter.avfilter_inout_free(&inputs);
        if (r < 0) return -1;
    } else if (avfilter.avfilter_link(last, 0, out, 0) < 0) {
        return -1;
    }
    if (avfilter.avfilter_graph_config(graph.get(), nullptr) < 0) return -1;
    if (!ost.filtered_picture) ost.filtered_picture.reset(avutil.av_frame_alloc());
    if (!ost.filtered_picture) return -1;
    ost.input_filter = src;
    ost.output_filter = out;
    ost.filter_graph = std::move(graph);
    ost.filter_width = width;
    ost.filter_height = height;
    ost.filter_format = format;
    return 0;
}

int TCustomFFmpeg::GetFilteredPicture(TOutputStreamState& ost, AVFrame* picture) {
    const int r = avfilter.av_buffersink_get_frame(ost.output_filter, picture);
    return r < 0 ? -1 : 1;
}

int TCustomFFmpeg::SwsFlags() const {
    int64_t flags = scaler_flags;
    if (generic_options.scaler_options &&
        avutil.av_opt_get_int(generic_options.scaler_options, "sws_flags", 0, &flags) < 0)
        flags = scaler_flags;
    return static_cast<int>(flags);
}
