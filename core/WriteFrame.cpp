// The single way a packet reaches its container: through the stream's chain of
// bitstream filters, then the interleaving writer.
#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

void TCustomFFmpeg::WriteFrame(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost) {
    if (soft_pulldown && ost.encoding_needed && ost.enc && ost.enc->codec_id == AV_CODEC_ID_MPEG2VIDEO)
        ApplyPulldown(pkt, ost.stream->time_base, ost.pulldown);
    FilterPacket(os, pkt, ost, 0);
}

void TCustomFFmpeg::DrainBitstreamFilters(AVFormatContext* os, TOutputStreamState& ost) {
    // Filters that gather data (a rechunker) hold a tail until told the stream ended.
    for (size_t level = 0; level < ost.bsfs.size(); ++level) FilterPacket(os, nullptr, ost, level);
}

// pkt none: the end of the stream for the filter at this level.
void TCustomFFmpeg::FilterPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost, size_t level) {
    if (level >= ost.bsfs.size()) {
        if (pkt) MuxPacket(os, pkt, ost);
        return;
    }
    AVBSFContext* bsf = ost.bsfs[level].get();
    const int stream_index = pkt ? pkt->stream_index : ost.index;
    auto failed = [&](int code) {
        if (!OnLog && !exit_on_error) return;
        const char* codec = ost.enc && ost.enc->codec ? ost.enc->codec->name : "copy";
        const std::string text = FFmpegErrorText(
            FormatText("%s failed for stream %d, codec %s", bsf->filter->name, stream_index, codec), code);
        if (exit_on_error) throw FFmpegException(text);
        Log(0, text);
    };
    // The filter takes the packet's data; this reference keeps it, so that a
    // filter failing on the packet does not lose it.
    AVPacket* kept = ost.bsf_kept[level].get();
    avcodec.av_packet_unref(kept);
    if (pkt && avcodec.av_packet_ref(kept, pkt) < 0) throw FFmpegException("av_malloc failed");
    int r = avcodec.av_bsf_send_packet(bsf, pkt);
    if (r < 0) {
        failed(r);
        avcodec.av_packet_unref(kept);
        if (pkt) FilterPacket(os, pkt, ost, level + 1);  // a refused packet goes on as it was
        return;
    }
    AVPacket* out = pkt ? pkt : kept;
    int produced = 0;
    while ((r = avcodec.av_bsf_receive_packet(bsf, out)) >= 0) {
        ++produced;
        out->stream_index = stream_index;
        FilterPacket(os, out, ost, level + 1);
        avcodec.av_packet_unref(out);
    }
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    failed(r);
    // Nothing came out of it: the packet goes on as it came.
    if (pkt && produced == 0) FilterPacket(os, kept, ost, level + 1);
    avcodec.av_packet_unref(kept);
}

void TCustomFFmpeg::MuxPacket(AVFormatContext* os, AVPacket* pkt, TOutputStreamState& ost) {
    // The size limit holds within the packet that crossed it: the reading loop
    // stops then, but packets already on their way (an encoder thread, the
    // drain at the end) must not grow the file further.
    if (file_size_limit != 0 && run->outputs && os == run->outputs[0] &&
        run->first_output_pos > file_size_limit)
        return;
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts != AV_NOPTS_VALUE) ost.cur_pts = ts + (pkt->duration > 0 ? pkt->duration : 0);
    int r = avformat.av_interleaved_write_frame(os, pkt);
    // The byte stream keeps a failed write (a full disk) to itself until asked.
    if (r >= 0 && os->pb && os->pb->error < 0) r = os->pb->error;
    if (r < 0) {
        write_error = r;
        throw FFmpegException(WriteFailureText(os, r));
    }
    if (run->outputs && os == run->outputs[0] && os->pb)
        run->first_output_pos = avformat.avio_seek(os->pb, 0, SEEK_CUR);
}
