// The subtitle path: decoding a subtitle packet, handing the subtitle to every
// output stream it feeds, and encoding it into the packets of that stream.
#include <cstring>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"

namespace {

constexpr int kSubtitleBufferSize = 65536;  // bytes, the most one encoded subtitle may take
constexpr AVRational kMilliseconds{1, 1000};

// Frees what the decoder put in a subtitle, also when an exception leaves.
struct TSubtitleFree {
    AVSubtitle* subtitle;
    ~TSubtitleFree() { avcodec.avsubtitle_free(subtitle); }
};

}  // namespace

// Text encoders build their header (Matroska's ASS header, MP4's text sample
// description) from the decoder's style header, so the source's decoder is
// opened first. The encoder's own clock is the microsecond; the container
// chooses the stream's time base when its header is written.
void TCustomFFmpeg::PrepareSubtitleEncoder(TOutputStreamState& ost, TInputStreamState& ist, int ist_index) {
    AVCodecContext* enc = ost.enc;
    OpenDecoder(ist, ist_index);
    const AVCodecContext* dec = ist.dec;
    if (dec->subtitle_header && dec->subtitle_header_size > 0 && !enc->subtitle_header) {
        enc->subtitle_header = static_cast<uint8_t*>(avutil.av_mallocz(dec->subtitle_header_size + 1));
        if (!enc->subtitle_header) throw FFmpegException("av_malloc fail");
        std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
        enc->subtitle_header_size = dec->subtitle_header_size;
    }
    // Bitmap encoders describe the picture the pages are placed on.
    if (enc->width == 0 && enc->height == 0) {
        enc->width = dec->width > 0 ? dec->width : ist.stream->codecpar->width;
        enc->height = dec->height > 0 ? dec->height : ist.stream->codecpar->height;
    }
    if (enc->time_base.num <= 0 || enc->time_base.den <= 0) enc->time_base = AV_TIME_BASE_Q;
}

// A subtitle decoder takes a whole packet and gives at most one subtitle for
// it; at the end of the input only decoders that hold data back are asked
// again, and the pages held back are written.
int TCustomFFmpeg::DecodeSubtitle(TInputStreamState& ist, int ist_index, AVPacket* pkt) {
    AVPacket* in = pkt ? pkt : run->copy_packet.get();
    if (!pkt) avcodec.av_packet_unref(in);
    const AVRational tb = ist.stream->time_base;
    bool more = pkt || (ist.dec->codec->capabilities & AV_CODEC_CAP_DELAY);
    while (more) {
        AVSubtitle subtitle{};
        int got = 0;
        if (avcodec.avcodec_decode_subtitle2(ist.dec, &subtitle, &got, in) < 0) return -1;
        if (!got) break;
        TSubtitleFree release{&subtitle};
        // The packet's own time; a subtitle given while draining has only the decoder's.
        int64_t pts = AV_NOPTS_VALUE;
        if (pkt)
            pts = pkt->pts;
        else if (subtitle.pts != AV_NOPTS_VALUE)
            pts = avutil.av_rescale_q(subtitle.pts, AV_TIME_BASE_Q, tb);
        if (start_time == 0 || ist.pts >= start_time) {
            for (auto& ost : run->ost_table) {
                if (ost->source_index != ist_index || !ost->encoding_needed) continue;
                if (ost->enc->codec_type != AVMEDIA_TYPE_SUBTITLE) throw FFmpegException("invalid codec_type");
                EncodeSubtitle(run->outputs[ost->file_index], *ost, ist, &subtitle, pts);
            }
        }
        more = !pkt;
    }
    if (!pkt) {
        for (auto& ost : run->ost_table)
            if (ost->source_index == ist_index && ost->encoding_needed)
                FlushSubtitles(run->outputs[ost->file_index], *ost);
    }
    return 0;
}

void TCustomFFmpeg::EncodeSubtitle(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                   AVSubtitle* subtitle, int64_t pts) {
    if (pts == AV_NOPTS_VALUE) {
        if (exit_on_error) throw FFmpegException("Subtitle packets must have a pts");
        Log(0, "Subtitle packets must have a pts");
        return;
    }
    // Nothing is written when there is nowhere to encode to, or the encoder
    // refuses: the subtitle is lost, the conversion goes on.
    auto refused = [&](int code) {
        const std::string text = FFmpegErrorText("avcodec_encode_subtitle()", code);
        if (exit_on_error) throw FFmpegException(text);
        Log(0, text);
    };
    uint8_t* buffer = run->subtitle_buffer.Reserve(kSubtitleBufferSize);
    if (!run->subtitle_packet) run->subtitle_packet.reset(avcodec.av_packet_alloc());
    if (!buffer || !run->subtitle_packet) return refused(AVERROR(ENOMEM));

    AVCodecContext* enc = ost.enc;
    const AVRational out_tb = ost.stream->time_base;
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    // The encoders take a subtitle that starts when its packet does: the
    // display times move into the packet's time.
    AVSubtitle shown = *subtitle;
    shown.start_display_time = 0;
    shown.end_display_time = subtitle->end_display_time > subtitle->start_display_time
                                 ? subtitle->end_display_time - subtitle->start_display_time
                                 : 0;
    const int64_t start = avutil.av_rescale_q(pts, ist.stream->time_base, out_tb);
    // A DVB page stays on screen until another replaces it: the second packet
    // is an empty page at the end time, which clears the screen. A page
    // without an end time is left to the next one.
    const int packets = dvb && shown.end_display_time > 0 ? 2 : 1;
    for (int i = 0; i < packets; ++i) {
        if (i == 1) shown.num_rects = 0;
        const int size = avcodec.avcodec_encode_subtitle(enc, buffer, kSubtitleBufferSize, &shown);
        if (size < 0) return refused(size);
        AVPacket* pkt = run->subtitle_packet.get();
        avcodec.av_packet_unref(pkt);
        pkt->stream_index = ost.index;
        pkt->data = buffer;
        pkt->size = size;
        const uint32_t at = i == 0 ? subtitle->start_display_time : subtitle->end_display_time;
        pkt->pts = start + avutil.av_rescale_q(at, kMilliseconds, out_tb);
        if (i == 0) {
            pkt->duration = avutil.av_rescale_q(shown.end_display_time, kMilliseconds, out_tb);
            // The page that clears the one before goes first, unless this page
            // comes as soon or sooner and replaces that one itself.
            if (ost.pending_clear && ost.pending_clear->pts >= pkt->pts)
                avcodec.av_packet_unref(ost.pending_clear.get());
            FlushSubtitles(os, ost);
            WriteSubtitlePacket(os, ost, pkt);
            continue;
        }
        if (!ost.pending_clear) ost.pending_clear.reset(avcodec.av_packet_alloc());
        if (!ost.pending_clear || avcodec.av_packet_ref(ost.pending_clear.get(), pkt) < 0)
            return refused(AVERROR(ENOMEM));
        avcodec.av_packet_unref(pkt);
    }
    ost.frame_number++;
}

void TCustomFFmpeg::FlushSubtitles(AVFormatContext* os, TOutputStreamState& ost) {
    if (!ost.pending_clear || ost.pending_clear->size == 0) return;
    WriteSubtitlePacket(os, ost, ost.pending_clear.get());
}

void TCustomFFmpeg::WriteSubtitlePacket(AVFormatContext* os, TOutputStreamState& ost, AVPacket* pkt) {
    try {
        WriteFrame(os, pkt, ost);
    } catch (...) {
        avcodec.av_packet_unref(pkt);
        throw;
    }
    avcodec.av_packet_unref(pkt);
}
