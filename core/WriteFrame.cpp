// The single way a packet reaches its container: through the stream's chain of
// bitstream filters, then the interleaving writer.
#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

void TCustomFFmpeg::WriteFrame(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost) {
    FilterPacket(os, pkt, ost, 0);
}

void TCustomFFmpeg::FilterPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost, size_t level) {
    if (level >= ost.bsfs.size()) {
        MuxPacket(os, pkt, ost);
        return;
    }
    AVBSFContext* bsf = ost.bsfs[level].get();
    const int stream_index = pkt->stream_index;
    auto failed = [&](int code) {
        if (!OnLog && !exit_on_error) return;
        const char* codec = ost.enc && ost.enc->codec ? ost.enc->codec->name : "copy";
        const std::string text = FFmpegErrorText(
            FormatText("%s failed for stream %d, codec %s", bsf->filter->name, stream_index, codec), code);
        if (exit_on_error) throw FFmpegException(text);
        Log(0, text);
    };
    int r = avcodec.av_bsf_send_packet(bsf, pkt);
    if (r < 0) {
        // A failing filter is skipped: the packet goes on as it was.
        failed(r);
        FilterPacket(os, pkt, ost, level + 1);
        return;
    }
    while ((r = avcodec.av_bsf_receive_packet(bsf, pkt)) >= 0) {
        pkt->stream_index = stream_index;
        FilterPacket(os, pkt, ost, level + 1);
        avcodec.av_packet_unref(pkt);
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) failed(r);
}

void TCustomFFmpeg::MuxPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost) {
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts != AV_NOPTS_VALUE) ost.cur_pts = ts + (pkt->duration > 0 ? pkt->duration : 0);
    int r = avformat.av_interleaved_write_frame(os, pkt);
    // The byte stream keeps a failed write (a full disk) to itself until asked.
    if (r >= 0 && os->pb && os->pb->error < 0) r = os->pb->error;
    if (r < 0) throw FFmpegException(FFmpegErrorText("av_interleaved_write_frame()", r));
    if (os == transcode_outputs[0] && os->pb) first_output_pos = avformat.avio_seek(os->pb, 0, SEEK_CUR);
}
