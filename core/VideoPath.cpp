// The video path: decoded pictures become encoded packets of one output stream
// (pre-processing, the filter chain or crop/scale/pad, frame-rate
// synchronisation, encoding, the drain at the end of the input).
#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/video_enc_params.h>
}

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"
#include "core/VideoFilters.h"

namespace {

// Flags that make an encoder code fields: the picture's field order matters then.
constexpr int kInterlacedFlags = AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;

TPictureView View(const AVFrame* f) {
    TPictureView v;
    for (int i = 0; i < 4; ++i) {
        v.data[i] = f->data[i];
        v.linesize[i] = f->linesize[i];
    }
    return v;
}

// Makes f a writable picture of the size and format: its buffer is reused
// unless someone (the encoder) still holds a reference to it.
bool MakeWritablePicture(AVFrame* f, int width, int height, int format) {
    if (f->buf[0] && f->width == width && f->height == height && f->format == format &&
        avutil.av_frame_is_writable(f))
        return true;
    avutil.av_frame_unref(f);
    f->width = width;
    f->height = height;
    f->format = format;
    return avutil.av_frame_get_buffer(f, 0) >= 0;
}

// A writable picture like the given one, from the pool: the first that
// nobody else holds (its buffer is kept when the size and format match), else
// a new one while the pool is small, else the oldest with a new buffer.
AVFrame* HookPicture(std::vector<TFramePtr>& pool, const AVFrame* like) {
    constexpr size_t kMaxHookPictures = 16;
    AVFrame* f = nullptr;
    for (TFramePtr& p : pool) {
        if (!p->buf[0] || avutil.av_frame_is_writable(p.get())) {
            f = p.get();
            break;
        }
    }
    if (!f && pool.size() < kMaxHookPictures) {
        TFramePtr fresh(avutil.av_frame_alloc());
        if (!fresh) return nullptr;
        f = fresh.get();
        pool.push_back(std::move(fresh));
    }
    if (!f) f = pool.front().get();
    return MakeWritablePicture(f, like->width, like->height, like->format) ? f : nullptr;
}

// The view of a picture moved right by left columns and down by top rows.
TPictureView Offset(const AVFrame* f, int top, int left) {
    TPictureView v = View(f);
    const AVPixFmtDescriptor* desc = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (!desc) return v;
    for (int i = 0; i < 4 && v.data[i]; ++i) {
        const int y = top >> PlaneRowShift(desc, i);
        v.data[i] += static_cast<ptrdiff_t>(y) * v.linesize[i] + static_cast<ptrdiff_t>(PlaneBytes(desc, i, left));
    }
    return v;
}

// The quantiser a picture was coded with, in lambda units: the decoder's own
// figure, else the mean of the quantisers its blocks report (MPEG-2 steps, twice
// those of MPEG-1 and MPEG-4); 0 when the decoder tells neither.
float PictureQuality(const AVFrame* frame) {
    if (frame->quality > 0) return static_cast<float>(frame->quality);
    const AVFrameSideData* sd = avutil.av_frame_get_side_data(frame, AV_FRAME_DATA_VIDEO_ENC_PARAMS);
    if (!sd) return 0;
    const auto* params = reinterpret_cast<const AVVideoEncParams*>(sd->data);
    if (params->type != AV_VIDEO_ENC_PARAMS_MPEG2 || params->nb_blocks == 0) return 0;
    if (params->blocks_offset + static_cast<size_t>(params->nb_blocks) * params->block_size > sd->size) return 0;
    // The header's block accessor asserts through av_log, which this program
    // only reaches through its entry-point table: the blocks are read directly.
    const uint8_t* blocks = sd->data + params->blocks_offset;
    double sum = 0;
    for (unsigned i = 0; i < params->nb_blocks; ++i)
        sum += params->qp + reinterpret_cast<const AVVideoBlockParams*>(blocks + i * params->block_size)->delta_qp;
    return static_cast<float>(sum / params->nb_blocks / 2 * FF_QP2LAMBDA);
}

// The DV encoder marks every frame interlaced (the IL bit of each video
// source control pack, 0x61, in the frame's VAUX blocks); a progressive
// picture coded as a frame is marked progressive instead.
void MarkDvProgressive(AVPacket* pkt) {
    constexpr int kBlock = 80, kPacks = 15, kPack = 5;
    if (avcodec.av_packet_make_writable(pkt) < 0) return;
    for (int at = 0; at + kBlock <= pkt->size; at += kBlock) {
        uint8_t* block = pkt->data + at;
        if ((block[0] >> 5) != 2) continue;  // not a VAUX block
        for (int p = 0; p < kPacks; ++p) {
            uint8_t* pack = block + 3 + p * kPack;
            if (pack[0] == 0x61) pack[3] &= static_cast<uint8_t>(~0x10);
        }
    }
}

}  // namespace

void TCustomFFmpeg::SetUpVideoEncoder(TOutputStreamState& ost, TInputStreamState& ist) {
    AVCodecContext* enc = ost.enc;
    AVCodecContext* dec = ist.dec;
    if (!dec)
        throw FFmpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                         ist.stream->codecpar->codec_id, ist.file_index, ist.index));
    // Encoders of subsampled formats need whole chroma samples: an odd size is
    // brought down to the next size they take.
    if (const AVPixFmtDescriptor* desc = avutil.av_pix_fmt_desc_get(enc->pix_fmt)) {
        const int wmask = (1 << desc->log2_chroma_w) - 1;
        const int hmask = (1 << desc->log2_chroma_h) - 1;
        enc->width = std::max(enc->width & ~wmask, wmask + 1);
        enc->height = std::max(enc->height & ~hmask, hmask + 1);
    }
    ost.crop_needed = crop_top + crop_bottom + crop_left + crop_right != 0;
    ost.pad_needed = pad_top + pad_bottom + pad_left + pad_right != 0;
    ost.resize_needed = enc->width + crop_left + crop_right != dec->width + pad_left + pad_right ||
                        enc->height + crop_top + crop_bottom != dec->height + pad_top + pad_bottom ||
                        enc->pix_fmt != dec->pix_fmt;
    if (ost.crop_needed) {
        ost.crop_top = crop_top;
        ost.crop_left = crop_left;
    }
    if (ost.pad_needed) {
        ost.pad_top = pad_top;
        ost.pad_bottom = pad_bottom;
        ost.pad_left = pad_left;
        ost.pad_right = pad_right;
    }
    ost.send_picture.reset(avutil.av_frame_alloc());
    ost.last_picture.reset(avutil.av_frame_alloc());
    ost.crop_picture.reset(avutil.av_frame_alloc());
    ost.work_picture.reset(avutil.av_frame_alloc());
    if (!ost.send_picture || !ost.last_picture || !ost.crop_picture || !ost.work_picture)
        throw FFmpegException("av_mallocz fail");
    if (ost.pad_needed || ost.resize_needed) {
        if (!MakeWritablePicture(ost.work_picture.get(), enc->width, enc->height, enc->pix_fmt))
            throw FFmpegException(ost.resize_needed ? "Cannot allocate temp picture, check pix fmt"
                                                    : "avpicture_alloc fail");
    }
    if (ost.resize_needed && !filters_in_use) {
        ost.resize_width = dec->width - crop_left - crop_right;
        ost.resize_height = dec->height - crop_top - crop_bottom;
        ost.resize_format = dec->pix_fmt;
        ost.resizer.reset(swscale.sws_getContext(ost.resize_width, ost.resize_height, dec->pix_fmt,
                                                 enc->width - pad_left - pad_right,
                                                 enc->height - pad_top - pad_bottom, enc->pix_fmt, SwsFlags(),
                                                 nullptr, nullptr, nullptr));
        if (!ost.resizer) throw FFmpegException("Cannot get resampling context");
    }
    // Pictures are worth the libraries' own threads (one per processor) unless
    // a count was set; their frame and slice threads give the same bytes
    // however they are scheduled.
    enc->thread_count = picture_thread_count;
    dec->thread_count = picture_thread_count;
    ost.encoding_needed = 1;
    ist.decoding_needed = 1;
    last_error.clear();
    if (filters_in_use && ConfigureFilters(ist, ost) != 0)
        throw FFmpegException(last_error.empty() ? std::string("Error opening filters!")
                                                 : "Error opening filters: " + last_error);
}

int TCustomFFmpeg::DecodeVideo(TInputStreamState& ist, int ist_index, const AVPacket* pkt) {
    AVCodecContext* dec = ist.dec;
    int r = avcodec.avcodec_send_packet(dec, pkt);
    if (r == AVERROR(EAGAIN)) {
        if (ReceiveVideoFrames(ist, ist_index, false) < 0) return -1;
        r = avcodec.avcodec_send_packet(dec, pkt);
    }
    const int received = ReceiveVideoFrames(ist, ist_index, pkt == nullptr);
    if (r < 0 && r != AVERROR_EOF) return -1;
    return received;
}

int TCustomFFmpeg::ReceiveVideoFrames(TInputStreamState& ist, int ist_index, bool draining) {
    // With frame threads a damaged packet's error comes out only while the
    // decoder is drained, ahead of pictures it still holds: the drain goes on
    // past it (each error stands for one picture, so a bound of errors ends a
    // decoder that keeps failing).
    constexpr int kMaxDrainErrors = 256;
    int drain_errors = 0;
    AVFrame* frame = run->decoded_frame.get();
    while (true) {
        const int r = avcodec.avcodec_receive_frame(ist.dec, frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return drain_errors > 0 ? -1 : 0;
        if (r < 0 && draining && ++drain_errors < kMaxDrainErrors) continue;
        if (r < 0) return -1;
        // The input clock follows the decoder: each picture's own time, else
        // the time the previous one predicted.
        const AVRational tb = ist.stream->time_base;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            ist.pts = avutil.av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q);
        else if (ist.next_pts != AV_NOPTS_VALUE)
            ist.pts = ist.next_pts;
        ist.next_pts = ist.pts + PictureDuration(ist, frame);
        ist.quality = PictureQuality(frame);
        PaceReading(ist);
        // Hooks see every decoded picture, so their frame numbers do not
        // depend on ss; only the outputs start at it.
        PreProcessVideoFrame(ist, frame);
        if (start_time == 0 || ist.pts >= start_time) {
            for (auto& ost : run->ost_table) {
                if (ost->source_index != ist_index || !ost->encoding_needed) continue;
                if (ost->enc->codec_type != AVMEDIA_TYPE_VIDEO) throw FFmpegException("invalid codec_type");
                PassVideoFrame(run->outputs[ost->file_index], *ost, ist, frame);
            }
        }
        avutil.av_frame_unref(frame);
    }
}

// Microseconds one decoded picture lasts. A packet duration of more than an
// hour comes from a damaged rate field, not from a picture: it is passed over.
int64_t TCustomFFmpeg::PictureDuration(const TInputStreamState& ist, const AVFrame* frame) const {
    constexpr int64_t kLongestPictureUs = int64_t{3600} * AV_TIME_BASE;
    const int64_t packet_us = frame->pkt_duration > 0
                                  ? avutil.av_rescale_q(frame->pkt_duration, ist.stream->time_base, AV_TIME_BASE_Q)
                                  : 0;
    if (packet_us > 0 && packet_us <= kLongestPictureUs) return packet_us;
    AVRational rate = ist.dec->framerate;
    if (rate.num <= 0 || rate.den <= 0) rate = ist.stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = ist.stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    const int64_t one = avutil.av_rescale_q(1, AVRational{rate.den, rate.num}, AV_TIME_BASE_Q);
    return one + one * frame->repeat_pict / 2;
}

void TCustomFFmpeg::PassVideoFrame(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                   AVFrame* picture) {
    if (!ost.filter_graph) {
        EncodeAndReport(os, ost, ist, picture);
        return;
    }
    if (picture->width != ost.filter_width || picture->height != ost.filter_height ||
        picture->format != ost.filter_format)
        RebuildFilters(os, ost, ist, picture);
    picture->pts = ist.pts;
    if (avfilter.av_buffersrc_add_frame_flags(ost.input_filter, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        // A picture the chain cannot take is left out.
        Log(0, FormatText("Error while decoding stream #%d.%d", ist.file_index, ist.index));
        return;
    }
    PullFilteredPictures(os, ost, ist);
}

// Pictures that change size or format midway get a chain built for them; what
// the old chain still holds is encoded first.
void TCustomFFmpeg::RebuildFilters(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                   const AVFrame* picture) {
    const int64_t pts = ist.pts;  // the new picture's time, while the old chain's pictures pass
    if (avfilter.av_buffersrc_add_frame_flags(ost.input_filter, nullptr, 0) >= 0) PullFilteredPictures(os, ost, ist);
    ist.pts = pts;
    last_error.clear();
    if (BuildFilterGraph(ost, picture->width, picture->height, picture->format, picture->sample_aspect_ratio) < 0)
        throw FFmpegException(last_error.empty() ? std::string("Error opening filters!")
                                                 : "Error opening filters: " + last_error);
}

void TCustomFFmpeg::PullFilteredPictures(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist) {
    AVFrame* filtered = ost.filtered_picture.get();
    while (GetFilteredPicture(ost, filtered) == 1) {
        if (filtered->pts != AV_NOPTS_VALUE) ist.pts = filtered->pts;
        EncodeAndReport(os, ost, ist, filtered);
        avutil.av_frame_unref(filtered);
    }
}

void TCustomFFmpeg::EncodeAndReport(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                    AVFrame* picture) {
    int frame_size = 0;
    EncodeVideoFrame(os, ost, ist, picture, frame_size);
    if (!vstats_file_name.empty() && frame_size != 0) WriteVideoStats(ost, frame_size);
}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamState& ost, int frame_size) {
    const AVCodecContext* enc = ost.enc;
    if (!enc || enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    if (!run->vstats_file) {
        run->vstats_file.reset(myutil.fopen(vstats_file_name.c_str(), "w"));
        if (!run->vstats_file) throw FFmpegException("fopen fail: " + vstats_file_name);
    }
    FILE* f = run->vstats_file.get();
    myutil.fprintf(f, "frame= %5d q= %2.1f ", ost.frame_number.load(), static_cast<double>(ost.quality) / 118.0);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        myutil.fprintf(f, "PSNR= %6.2f ",
                       -10.0 * std::log10(ost.frame_error[0] / (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
    myutil.fprintf(f, "f_size= %6d ", frame_size);
    const double tb = av_q2d(enc->time_base);
    const double ti = std::max(static_cast<double>(ost.sample_clock) * tb, 0.01);
    const double bitrate = frame_size * 8 / tb / 1000.0;
    const double avg = static_cast<double>(run->video_size) * 8 / ti / 1000.0;
    myutil.fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                   static_cast<double>(run->video_size) / 1024, ti, bitrate, avg);
    myutil.fprintf(f, "type= %c\n", avutil.av_get_picture_type_char(static_cast<AVPictureType>(ost.pict_type)));
}

void TCustomFFmpeg::PreProcessVideoFrame(TInputStreamState& ist, AVFrame* picture) {
    ++run->hook_frame_count;
    DecideHookAction(ist.pts);
    const bool custom = static_cast<bool>(OnCustomHook);
    const bool plugins = !custom && hooks_in_use && run->hook_action == haContinue;
    if (!deinterlace && !custom && !plugins) return;
    // Hooks paint on a copy: the decoder may still read the picture it handed out.
    AVFrame* out = HookPicture(ist.hook_pictures, picture);
    if (!out) {
        Log(0, "hook buf malloc error.");
        return;
    }
    bool deinterlaced = false;
    if (deinterlace) {
        deinterlaced = DeinterlacePicture(View(out), View(picture), static_cast<AVPixelFormat>(picture->format),
                                          picture->width, picture->height) >= 0;
        if (!deinterlaced) Log(0, "Deinterlacing failed.");
    }
    if (!deinterlaced) {
        // Nothing but the hooks wants the copy.
        if (!custom && !plugins) return;
        const uint8_t* planes[4] = {picture->data[0], picture->data[1], picture->data[2], picture->data[3]};
        avutil.av_image_copy(out->data, out->linesize, planes, picture->linesize,
                             static_cast<AVPixelFormat>(picture->format), picture->width, picture->height);
    }
    if (custom)
        RunCustomHook(out, ist.pts);
    else if (plugins)
        RunPluginHooks(out, ist.pts);
    avutil.av_frame_copy_props(out, picture);
    avutil.av_frame_unref(picture);
    avutil.av_frame_ref(picture, out);
}

void TCustomFFmpeg::EncodeVideoFrame(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                     AVFrame* picture, int& frame_size) {
    frame_size = 0;
    // A time far beyond the input's length is checked before any slot is
    // filled up to it: a jump of hours in one damaged packet must not become
    // hours of copies.
    CheckWithinDeclared(static_cast<double>(ost.sync_input->pts - start_time) / 1e6);
    if (ConstantRateSlots(os, ost)) {
        HoldForNearestSlots(os, ost, ist, picture, frame_size);
        return;
    }
    const int nb_frames = std::min(SyncVideoFrames(os, ost), max_frames[mfVideo] - ost.frame_number.load());
    if (nb_frames <= 0) return;
    AVFrame* final_picture = FormatVideoFrame(ost, picture);
    if (!final_picture) return;
    EncodePictureSlots(os, ost, final_picture, ist.quality, nb_frames, frame_size);
}

bool TCustomFFmpeg::ConstantRateSlots(const AVFormatContext* os, const TOutputStreamState& ost) const {
    if (video_sync_method == 0 || video_sync_method == 2) return false;
    if (video_sync_method > 0) return true;
    return av_q2d(ost.enc->time_base) > 0.001 && !(os->oformat->flags & AVFMT_VARIABLE_FPS);
}

// A constant-rate output shows in each of its slots the input picture nearest
// to the slot's time, so a picture is known to be done only when the next one
// comes: it is held until then (or the end) and encoded into its slots.
void TCustomFFmpeg::HoldForNearestSlots(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                        AVFrame* picture, int& frame_size) {
    const double tb = av_q2d(ost.enc->time_base);
    const double at = static_cast<double>(GridTime(*ost.sync_input) - start_time) / 1000000.0 / tb;
    if (ost.held) EncodeHeldPicture(os, ost, SlotsBefore(ost, at), frame_size);
    AVFrame* final_picture = FormatVideoFrame(ost, picture);
    if (!final_picture) return;
    AVFrame* held = ost.last_picture.get();
    avutil.av_frame_unref(held);
    if (avutil.av_frame_ref(held, final_picture) < 0) throw FFmpegException("Video encoding failed");
    ost.held = true;
    ost.held_at = at;
    ost.held_span = static_cast<double>(PictureDuration(ist, picture)) / 1000000.0 / tb;
    ost.held_quality = ist.quality;
}

// A picture's time (microseconds) on the input's declared frame grid when it
// lies within one tick of the container's clock of it: containers that count
// in milliseconds round 1/30 s, and the nearest slot must not follow that
// rounding back and forth. Other times (gaps, a rate the header gets wrong)
// are taken as they are.
int64_t TCustomFFmpeg::GridTime(TInputStreamState& ist) const {
    AVRational rate = ist.stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = ist.stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return ist.pts;
    if (ist.grid_origin == AV_NOPTS_VALUE) ist.grid_origin = ist.pts;
    const double frame_us = 1000000.0 * rate.den / rate.num;
    const double tick_us = 1000000.0 * av_q2d(ist.stream->time_base);
    if (tick_us * 2 >= frame_us) return ist.pts;
    const double frames = std::nearbyint(static_cast<double>(ist.pts - ist.grid_origin) / frame_us);
    const double on_grid = static_cast<double>(ist.grid_origin) + frames * frame_us;
    if (std::fabs(on_grid - static_cast<double>(ist.pts)) > tick_us) return ist.pts;
    return std::llrint(on_grid);
}

// The first slot that is no longer the held picture's, when the next picture
// is at next_at (encoder ticks): the slots nearer to the held picture than to
// the next. A gap longer than two of the held picture's frames is held over
// until the next picture's own slot, so that picture is not shown early.
int64_t TCustomFFmpeg::SlotsBefore(const TOutputStreamState& ost, double next_at) const {
    const double span = ost.held_span > 0 ? ost.held_span : 1.0;
    if (next_at - ost.held_at > 2 * span) return std::llrint(std::min(next_at, 9e18));
    // A slot just between the two shows the earlier: no picture comes early.
    return static_cast<int64_t>(std::floor((ost.held_at + next_at) / 2)) + 1;
}

// The held picture into its slots up to end (exclusive), counting a picture
// that got none as dropped and every slot after its first as a repeat.
void TCustomFFmpeg::EncodeHeldPicture(AVFormatContext* os, TOutputStreamState& ost, int64_t end, int& frame_size) {
    const int64_t slots = std::max<int64_t>(0, end - ost.sample_clock);
    ost.held = false;
    if (slots == 0) {
        ++run->drop_frames;
        if (verbosity > 2) Log(1, "*** drop!");
        return;
    }
    if (slots > 1) {
        run->dup_frames += static_cast<int>(std::min<int64_t>(slots - 1, INT_MAX - run->dup_frames));
        if (verbosity > 2) Log(1, FormatText("*** %" PRId64 " dup!", slots - 1));
    }
    const int64_t allowed = std::min<int64_t>(slots, max_frames[mfVideo] - ost.frame_number.load());
    if (allowed <= 0) return;
    EncodePictureSlots(os, ost, ost.last_picture.get(), ost.held_quality,
                       static_cast<int>(std::min<int64_t>(allowed, INT_MAX)), frame_size);
}

// What is still held when the input ends takes the slots up to its own end,
// within the recording time.
void TCustomFFmpeg::EncodeLastHeldPicture(AVFormatContext* os, TOutputStreamState& ost) {
    if (!ost.held) return;
    const double tb = av_q2d(ost.enc->time_base);
    const double span = ost.held_span > 0 ? ost.held_span : 1.0;
    double end = std::floor(ost.held_at + span / 2) + 1;
    if (recording_time != INT64_MAX)
        end = std::min(end, std::ceil(static_cast<double>(recording_time) / 1000000.0 / tb));
    int frame_size = 0;
    EncodeHeldPicture(os, ost, static_cast<int64_t>(std::min(end, 9e18)), frame_size);
    if (!vstats_file_name.empty() && frame_size != 0) WriteVideoStats(ost, frame_size);
}

// One picture into count consecutive output slots.
void TCustomFFmpeg::EncodePictureSlots(AVFormatContext* os, TOutputStreamState& ost, const AVFrame* shown,
                                       float quality, int count, int& frame_size) {
    AVCodecContext* enc = ost.enc;
    AVFrame* send = ost.send_picture.get();
    const double tb = av_q2d(enc->time_base);
    for (int i = 0; i < count; ++i) {
        if (stop_requested.load(std::memory_order_relaxed)) break;
        CheckWithinDeclared(static_cast<double>(ost.sample_clock) * tb);
        if (avutil.av_frame_ref(send, shown) < 0) throw FFmpegException("Video encoding failed");
        send->pts = ost.sample_clock;
        if (enc->flags & kInterlacedFlags)
            send->top_field_first = top_field_first == -1 ? shown->top_field_first : top_field_first;
        send->quality = same_quality ? static_cast<int>(std::lrint(quality)) : enc->global_quality;
        if (me_threshold == 0) send->pict_type = AV_PICTURE_TYPE_NONE;
        send->key_frame = 0;
        if (preview_flags.load(std::memory_order_relaxed) != 0)
            PreviewFrame(send, avutil.av_rescale_q(send->pts, enc->time_base, AV_TIME_BASE_Q));
        ost.sent_fields = (enc->flags & kInterlacedFlags) || send->interlaced_frame;
        const int r = avcodec.avcodec_send_frame(enc, send);
        avutil.av_frame_unref(send);
        if (r < 0) throw FFmpegException("Video encoding failed");
        const int written = ReceiveVideoPackets(os, ost);
        if (written > 0) frame_size = written;
        ost.sample_clock += 1;
        ost.frame_number++;
    }
}

int TCustomFFmpeg::SyncVideoFrames(AVFormatContext* os, TOutputStreamState& ost) {
    const double tb = av_q2d(ost.enc->time_base);
    const double ipts = static_cast<double>(ost.sync_input->pts - start_time) / 1000000.0;
    const bool on = video_sync_method > 0 || (video_sync_method < 0 && tb > 0.001);
    if (!on) {
        ost.sample_clock = std::llrint(ipts / tb);
        return 1;
    }
    // Variable rate: a picture more than 0.6 of a slot late is left out, one
    // as early moves the clock to it.
    const double vdelta = ipts / tb - static_cast<double>(ost.sample_clock);
    if (vdelta <= -0.6) {
        ++run->drop_frames;
        if (verbosity > 2) Log(1, "*** drop!");
        return 0;
    }
    if (vdelta > 0.6) ost.sample_clock = std::llrint(ipts / tb);
    return 1;
}

AVFrame* TCustomFFmpeg::FormatVideoFrame(TOutputStreamState& ost, AVFrame* picture) {
    AVCodecContext* enc = ost.enc;
    AVFrame* formatted = picture;
    if (!filters_in_use && ost.crop_needed) {
        AVFrame* crop = ost.crop_picture.get();
        avutil.av_frame_unref(crop);
        bool ok = avutil.av_frame_ref(crop, picture) >= 0;
        if (ok) {
            crop->crop_top = static_cast<size_t>(std::max(crop_top, 0));
            crop->crop_bottom = static_cast<size_t>(std::max(crop_bottom, 0));
            crop->crop_left = static_cast<size_t>(std::max(crop_left, 0));
            crop->crop_right = static_cast<size_t>(std::max(crop_right, 0));
            ok = avutil.av_frame_apply_cropping(crop, AV_FRAME_CROP_UNALIGNED) >= 0;
        }
        if (!ok) return VideoFrameFailed("error cropping picture");
        formatted = crop;
    }
    const int inner_w = enc->width - ost.pad_left - ost.pad_right;
    const int inner_h = enc->height - ost.pad_top - ost.pad_bottom;
    // A decoder (or a chain) that changes size or format midway goes through the scaler too.
    const bool scale = (!filters_in_use && ost.resize_needed) || formatted->width != inner_w ||
                       formatted->height != inner_h || formatted->format != enc->pix_fmt;
    if (!scale && !ost.pad_needed) return formatted;

    AVFrame* work = ost.work_picture.get();
    if (!MakeWritablePicture(work, enc->width, enc->height, enc->pix_fmt))
        return VideoFrameFailed("Cannot allocate temp picture, check pix fmt");
    avutil.av_frame_copy_props(work, formatted);
    if (scale) {
        SwsContext* sws = swscale.sws_getCachedContext(ost.resizer.release(), formatted->width, formatted->height,
                                                       static_cast<AVPixelFormat>(formatted->format), inner_w,
                                                       inner_h, enc->pix_fmt, SwsFlags(), nullptr, nullptr, nullptr);
        ost.resizer.reset(sws);
        if (!sws) return VideoFrameFailed("Cannot get resampling context");
        const TPictureView target = Offset(work, ost.pad_top, ost.pad_left);
        swscale.sws_scale(sws, formatted->data, formatted->linesize, 0, formatted->height, target.data.data(),
                          target.linesize.data());
    }
    if (ost.pad_needed) {
        const TPictureView source = View(formatted);
        if (PadPicture(View(work), scale ? nullptr : &source, enc->height, enc->width, enc->pix_fmt, ost.pad_top,
                       ost.pad_bottom, ost.pad_left, ost.pad_right, pad_color) < 0)
            return VideoFrameFailed("error padding picture");
    }
    return work;
}

AVFrame* TCustomFFmpeg::VideoFrameFailed(const char* text) {
    if (exit_on_error) throw FFmpegException(text);
    Log(0, text);
    return nullptr;
}

// Writes every packet the encoder has ready; the size of the last one, 0 if none.
int TCustomFFmpeg::ReceiveVideoPackets(AVFormatContext* os, TOutputStreamState& ost) {
    AVCodecContext* enc = ost.enc;
    AVPacket* pkt = run->encoded_packet.get();
    int size = 0;
    while (true) {
        const int r = avcodec.avcodec_receive_packet(enc, pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) throw FFmpegException("Video encoding failed");
        size_t stats_size = 0;
        if (const uint8_t* stats = avcodec.av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &stats_size);
            stats && stats_size >= 4) {
            int32_t q = 0;
            std::memcpy(&q, stats, 4);
            ost.quality = static_cast<float>(q);
            if (stats_size >= 5) ost.pict_type = stats[4];
            const int errors = stats_size >= 6 ? stats[5] : 0;
            for (int j = 0; j < std::min(errors, 3) && 8 + 8 * (j + 1) <= static_cast<int>(stats_size); ++j) {
                int64_t e = 0;
                std::memcpy(&e, stats + 8 + 8 * j, 8);
                ost.frame_error[j] = static_cast<double>(e);
            }
        }
        if (enc->codec_id == AV_CODEC_ID_DVVIDEO && !ost.sent_fields) MarkDvProgressive(pkt);
        size = pkt->size;
        run->video_size += pkt->size;
        pkt->stream_index = ost.index;
        // One tick of the encoder's clock per picture: the output's position
        // then reaches the end of the last picture, not its start.
        if (pkt->duration <= 0) pkt->duration = 1;
        avcodec.av_packet_rescale_ts(pkt, enc->time_base, ost.stream->time_base);
        WriteFrame(os, pkt, ost);
        avcodec.av_packet_unref(pkt);
        if (ost.pass_log_file && enc->stats_out) myutil.fprintf(ost.pass_log_file.get(), "%s", enc->stats_out);
    }
    return size;
}

void TCustomFFmpeg::FlushVideoEncoder(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist) {
    if (ost.filter_graph) {
        if (avfilter.av_buffersrc_add_frame_flags(ost.input_filter, nullptr, 0) >= 0)
            PullFilteredPictures(os, ost, ist);
    }
    EncodeLastHeldPicture(os, ost);
    const int r = avcodec.avcodec_send_frame(ost.enc, nullptr);
    if (r < 0 && r != AVERROR_EOF) throw FFmpegException("Video encoding failed");
    ReceiveVideoPackets(os, ost);
    ost.last_picture.reset();
}
