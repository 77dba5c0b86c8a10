// The video filter chain of an output stream (buffer source, an optional
// scaler, the user's chain, a buffer sink limited to the encoder's pixel
// format), and the picture operations of VideoFilters.h.
#include "core/VideoFilters.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

// Chroma width and height shifts of the planar formats the deinterlacer
// knows; false for any other format.
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

// Formats whose samples are not whole bytes of integers (bits, palette
// indexes, floats) or live outside memory: no band is painted in them.
constexpr uint64_t kUnpaddable =
    AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT;

// An 8-bit sample at the given depth: video-range values keep their place on the scale.
unsigned AtDepth(int value, int depth) {
    const unsigned v = static_cast<unsigned>(std::clamp(value, 0, 255));
    return depth >= 8 ? v << (depth - 8) : v >> (8 - depth);
}

// The sample of component c of the colour (Y, U, V; video range) at the format's depth.
unsigned ComponentValue(const AVPixFmtDescriptor* desc, int c, const std::array<int, 3>& yuv) {
    const int depth = desc->comp[c].depth;
    if ((desc->flags & AV_PIX_FMT_FLAG_ALPHA) && c == desc->nb_components - 1) return (1u << depth) - 1;
    if (!(desc->flags & AV_PIX_FMT_FLAG_RGB)) return AtDepth(yuv[c], depth);
    // Video-range BT.601 to RGB: the default black stays black.
    const double y = 1.164 * (yuv[0] - 16), u = yuv[1] - 128, v = yuv[2] - 128;
    const double rgb[3] = {y + 1.596 * v, y - 0.392 * u - 0.813 * v, y + 2.017 * u};
    return AtDepth(static_cast<int>(std::lround(rgb[c])), depth);
}

// Writes one sample into the bits of its component, leaving its neighbours'.
void PutSample(uint8_t* at, const AVComponentDescriptor& comp, bool big_endian, unsigned value) {
    if (comp.shift + comp.depth <= 8) {
        const unsigned mask = ((1u << comp.depth) - 1) << comp.shift;
        *at = static_cast<uint8_t>((*at & ~mask) | ((value << comp.shift) & mask));
        return;
    }
    const int bytes = comp.shift + comp.depth <= 16 ? 2 : 4;
    uint32_t word = 0;
    for (int b = 0; b < bytes; ++b) word |= static_cast<uint32_t>(at[big_endian ? bytes - 1 - b : b]) << (8 * b);
    const uint32_t mask = static_cast<uint32_t>(((uint64_t{1} << comp.depth) - 1) << comp.shift);
    word = (word & ~mask) | ((value << comp.shift) & mask);
    for (int b = 0; b < bytes; ++b) at[big_endian ? bytes - 1 - b : b] = static_cast<uint8_t>(word >> (8 * b));
}

// One row of plane `plane`, width pixels wide, all of the colour.
std::vector<uint8_t> ColourRow(const AVPixFmtDescriptor* desc, int plane, int width, const std::array<int, 3>& yuv) {
    std::vector<uint8_t> row(PlaneBytes(desc, plane, width) + 4);  // room for a wide sample's last bytes
    const bool big_endian = desc->flags & AV_PIX_FMT_FLAG_BE;
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        if (comp.plane != plane) continue;
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int samples = chroma ? -((-width) >> desc->log2_chroma_w) : width;
        const unsigned value = ComponentValue(desc, c, yuv);
        // A component within one byte of a big-endian word is in its second byte.
        const int offset = comp.offset + (big_endian && comp.shift + comp.depth <= 8 ? 1 : 0);
        for (int x = 0; x < samples; ++x)
            PutSample(row.data() + static_cast<ptrdiff_t>(x) * comp.step + offset, comp, big_endian, value);
    }
    row.resize(PlaneBytes(desc, plane, width));
    return row;
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
    const AVPixFmtDescriptor* desc = avutil.av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & kUnpaddable)) return -1;
    if (pad_top < 0 || pad_bottom < 0 || pad_left < 0 || pad_right < 0 || pad_left + pad_right > width ||
        pad_top + pad_bottom > height)
        return -1;
    for (int i = 0; i < 4 && dst.data[i]; ++i) {
        // One row of the colour: the bands are cut from it, in whole pixels.
        const std::vector<uint8_t> colour = ColourRow(desc, i, width, color);
        const size_t w = colour.size();
        const int h = -((-height) >> PlaneRowShift(desc, i));  // rounded up, as the planes are allocated
        const int top = pad_top >> PlaneRowShift(desc, i), bottom = pad_bottom >> PlaneRowShift(desc, i);
        const size_t left = PlaneBytes(desc, i, pad_left), right = PlaneBytes(desc, i, pad_right);
        const size_t inner = w > left + right ? w - left - right : 0;
        for (int y = 0; y < h; ++y) {
            uint8_t* row = dst.data[i] + static_cast<ptrdiff_t>(y) * dst.linesize[i];
            if (y < top || y >= h - bottom) {
                std::memcpy(row, colour.data(), w);
                continue;
            }
            std::memcpy(row, colour.data(), std::min(left, w));
            if (src && src->data[i])
                std::memcpy(row + left, src->data[i] + static_cast<ptrdiff_t>(y - top) * src->linesize[i], inner);
            if (w >= left + right) std::memcpy(row + w - right, colour.data() + w - right, right);
        }
    }
    return 0;
}

size_t PlaneBytes(const AVPixFmtDescriptor* desc, int plane, int pixels) {
    // The widest step of the plane's components, as the libraries size a line.
    int step = 0;
    bool chroma = false;
    for (int c = 0; c < desc->nb_components; ++c) {
        if (desc->comp[c].plane != plane || desc->comp[c].step <= step) continue;
        step = desc->comp[c].step;
        chroma = c == 1 || c == 2;
    }
    const int shift = chroma ? desc->log2_chroma_w : 0;
    return static_cast<size_t>(-((-pixels) >> shift)) * static_cast<size_t>(step);
}

int PlaneRowShift(const AVPixFmtDescriptor* desc, int plane) {
    return (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB) ? desc->log2_chroma_h : 0;
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
