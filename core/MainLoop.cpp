// The second half of a transcode: read the input that lags furthest behind,
// correct the packet's timestamps, decode and dispatch it, report now and then;
// at the end drain everything and write the trailers.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

double Q(AVRational r) { return r.den ? static_cast<double>(r.num) / r.den : 0.0; }

// Unreferences the loop's packet at the end of every iteration, also when an
// exception leaves it.
struct TPacketUnref {
    AVPacket* pkt;
    ~TPacketUnref() { avcodec.av_packet_unref(pkt); }
};

}  // namespace

int TCustomFFmpeg::NextInputFile(double& opts_min, bool& frame_limit) const {
    double ipts_min = 1e100;
    opts_min = 1e100;
    frame_limit = false;
    int file_index = -1;
    for (const auto& ost : run->ost_table) {
        const TInputStreamState& ist = *run->ist_table[ost->source_index];
        const AVMediaType type = ost->stream->codecpar->codec_type;
        // Encoded audio counts what went to its encoder: the same whether the
        // encoder runs on this thread or lags behind on its own.
        const bool encoded_audio = type == AVMEDIA_TYPE_AUDIO && ost->encoding_needed;
        double opts;
        if (type == AVMEDIA_TYPE_VIDEO && ost->encoding_needed)
            opts = static_cast<double>(ost->sample_clock) * Q(ost->enc->time_base);
        else if (encoded_audio)
            opts = static_cast<double>(ost->enc_next_pts) / ost->enc->sample_rate;
        else
            opts = ost->cur_pts == AV_NOPTS_VALUE ? 0.0
                                                  : static_cast<double>(ost->cur_pts) * Q(ost->stream->time_base);
        const double ipts = static_cast<double>(ist.pts);
        if (!run->file_table[ist.file_index].eof_reached) {
            if (ipts < ipts_min) {
                ipts_min = ipts;
                if (input_sync) file_index = ist.file_index;
            }
            if (opts < opts_min) {
                opts_min = opts;
                if (!input_sync) file_index = ist.file_index;
            }
        }
        const int frames = encoded_audio ? ost->frames_submitted : ost->frame_number.load();
        if (type >= 0 && type < static_cast<int>(max_frames.size()) && frames >= max_frames[type]) {
            frame_limit = true;
            return -1;
        }
    }
    return file_index;
}

bool TCustomFFmpeg::LimitReached(double opts_min, int output_count) const {
    if (static_cast<double>(recording_time) / 1000000.0 <= opts_min) return true;
    if (file_size_limit != 0 && output_count > 0 && run->first_output_pos > file_size_limit) return true;
    CheckWithinDeclared(opts_min);
    return false;
}

void TCustomFFmpeg::CheckWithinDeclared(double seconds) const {
    if (run->declared_input_us <= 0) return;
    if (seconds * 1e6 <= static_cast<double>(2 * run->declared_input_us + 60 * int64_t{AV_TIME_BASE})) return;
    throw FFmpegException(
        FormatText("The input decodes to far more than its declared length (%.1f s); conversion stopped",
                   static_cast<double>(run->declared_input_us) / 1e6));
}

void TCustomFFmpeg::RunTranscodeLoop(AVFormatContext** outputs, int output_count, AVFormatContext** inputs,
                                     int input_count) {
    TPacketPtr packet(avcodec.av_packet_alloc());
    if (!packet) throw FFmpegException("av_malloc fail");
    AVPacket* pkt = packet.get();

    read_to_end = false;
    // The stop request is read once per packet.
    while (!stop_requested.load(std::memory_order_relaxed)) {
        // A paused task waits here, between packets, until it is resumed or stopped.
        if (!pause_gate.Pass(stop_requested)) break;
        double opts_min;
        bool frame_limit;
        const int file_index = NextInputFile(opts_min, frame_limit);
        if (file_index < 0) {
            read_to_end = !frame_limit;
            break;
        }
        if (LimitReached(opts_min, output_count)) break;

        AVFormatContext* ic = inputs[file_index];
        const int r = avformat.av_read_frame(ic, pkt);
        if (r == AVERROR(EAGAIN) && std::strcmp(ic->iformat->name, "ffm") != 0) continue;
        if (r < 0) {
            run->file_table[file_index].eof_reached = 1;
            if (shortest) break;
            continue;
        }
        TPacketUnref unref{pkt};

        if (packet_dump)
            avformat.av_pkt_dump_log2(nullptr, AV_LOG_INFO, pkt, hex_dump ? 1 : 0,
                                      pkt->stream_index < static_cast<int>(ic->nb_streams)
                                          ? ic->streams[pkt->stream_index]
                                          : ic->streams[0]);
        // A packet that failed to decode is followed by no report.
        if (!HandlePacket(ic, file_index, pkt)) continue;

        const int64_t now = avutil.av_gettime();
        if (now - run->last_report_time > progress_interval) {
            run->last_report_time = now;
            PrintReport(outputs, output_count, false);
        }
    }
    FinishTranscode(outputs, output_count);
}

void TCustomFFmpeg::FinishTranscode(AVFormatContext** outputs, int output_count) {
    for (int k = 0; k < static_cast<int>(run->ist_table.size()); ++k)
        if (run->ist_table[k]->decoding_needed) DecodePacket(*run->ist_table[k], k, nullptr);
    for (auto& ost : run->ost_table) FillSoundToPicturesEnd(outputs[ost->file_index], *ost);
    for (auto& ost : run->ost_table) DrainBitstreamFilters(outputs[ost->file_index], *ost);
    if (read_to_end) CheckSomethingDecoded();
    converted_ms = ConvertedMs();
    for (int i = 0; i < output_count; ++i) {
        // A write that fails only now, as the last buffered bytes go out, still
        // fails the run: the file is not complete.
        int r = avformat.av_write_trailer(outputs[i]);
        if (outputs[i]->pb) {
            avformat.avio_flush(outputs[i]->pb);
            if (r >= 0 && outputs[i]->pb->error < 0) r = outputs[i]->pb->error;
        }
        if (r < 0) {
            write_error = r;
            throw FFmpegException(WriteFailureText(outputs[i], r));
        }
    }
    PrintReport(outputs, output_count, true);
    for (auto& ost : run->ost_table) {
        if (!ost->encoding_needed) continue;
        avutil.av_freep(&ost->enc->stats_in);
        std::lock_guard<std::mutex> lock(CodecLock);
        avcodec.avcodec_close(ost->enc);
        RemoveOpenEncoder(*ost);
    }
    for (auto& ist : run->ist_table) {
        if (!ist->decoding_needed) continue;
        std::lock_guard<std::mutex> lock(CodecLock);
        avcodec.avcodec_close(ist->dec);
        RemoveOpenDecoder(*ist);
    }
    finished = !stop_requested.load();
}

// An input read to its end that gave an encoder not one sample (a file with
// headers and no media, or media no decoder could read) is no conversion,
// though the container would write a valid empty file.
void TCustomFFmpeg::CheckSomethingDecoded() {
    for (const auto& ost : run->ost_table) {
        if (!ost->encoding_needed) continue;
        const AVMediaType type = ost->enc->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO && ost->frames_submitted == 0) {
            decode_failed = true;
            throw FFmpegException("No audio could be decoded from the input");
        }
        if (type == AVMEDIA_TYPE_VIDEO && ost->frame_number == 0) {
            decode_failed = true;
            throw FFmpegException("No picture could be decoded from the input");
        }
    }
}

// The longest output stream, in milliseconds. Encoded audio counts the
// samples its encoder took, unless the file took less of it (a size limit
// drops what the encoder gives out after).
int64_t TCustomFFmpeg::ConvertedMs() const {
    int64_t ms = 0;
    for (const auto& ost : run->ost_table) {
        int64_t stream_ms = ost->cur_pts == AV_NOPTS_VALUE
                                ? 0
                                : avutil.av_rescale_q(ost->cur_pts, ost->stream->time_base, AVRational{1, 1000});
        if (ost->encoding_needed && ost->enc->codec_type == AVMEDIA_TYPE_AUDIO && ost->enc->sample_rate > 0)
            stream_ms = std::min(stream_ms, avutil.av_rescale(ost->enc_next_pts, 1000, ost->enc->sample_rate));
        ms = std::max(ms, stream_ms);
    }
    return ms;
}

int64_t TCustomFFmpeg::ExpectedOutputMs() const {
    if (expected_duration_ms < 0) return -1;
    int64_t ms = expected_duration_ms;
    if (start_time > 0) ms -= start_time / 1000;
    if (recording_time != INT64_MAX) ms = std::min(ms, recording_time / 1000);
    return std::max<int64_t>(ms, 0);
}

bool TCustomFFmpeg::EndedShort() const {
    const int64_t expected = ExpectedOutputMs();
    if (!finished || !read_to_end || converted_ms < 0 || expected <= 0) return false;
    const int64_t missing = expected - converted_ms;
    return missing > kShortToleranceMs && missing * 100 > expected * kShortTolerancePercent;
}

// One packet read from input file file_index, to the decoder of its stream
// with its times corrected: false when it failed to decode (logged, or raised
// with xerror). Packets of streams nobody takes are passed over.
bool TCustomFFmpeg::HandlePacket(AVFormatContext* ic, int file_index, AVPacket* pkt) {
    const TInputFileState& file = run->file_table[file_index];
    if (pkt->stream_index >= file.nb_streams) return true;
    const int ist_index = file.ist_index + pkt->stream_index;
    TInputStreamState& ist = *run->ist_table[ist_index];
    if (ist.discard) return true;
    OffsetAndScaleTimes(file_index, ist, pkt);
    if (ic->iformat->flags & AVFMT_TS_DISCONT) FollowDiscontinuity(file_index, ist, pkt);
    if (DecodePacket(ist, ist_index, pkt) >= 0) return true;
    const std::string text = FormatText("Error while decoding stream #%d.%d", ist.file_index, ist.index);
    if (exit_on_error) {
        decode_failed = true;
        throw FFmpegException(text);
    }
    if (verbosity >= 0 && OnLog) OnLog(this, 1, text);
    return false;
}

// The file's time offset ("itsoffset" and discontinuities so far) and the
// stream's time scale ("itsscale").
void TCustomFFmpeg::OffsetAndScaleTimes(int file_index, const TInputStreamState& ist, AVPacket* pkt) const {
    const int64_t offset = avutil.av_rescale_q(input_ts_offsets[file_index], AV_TIME_BASE_Q, ist.stream->time_base);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
    if (file_index >= MAX_FILES || pkt->stream_index >= MAX_STREAMS) return;
    const double scale = input_ts_scales[file_index][pkt->stream_index];
    if (scale == 0) return;
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts = static_cast<int64_t>(std::nearbyint(static_cast<double>(pkt->pts) * scale));
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts = static_cast<int64_t>(std::nearbyint(static_cast<double>(pkt->dts) * scale));
}

// In a format whose times may jump (MPEG transport streams and the like), a
// jump beyond dts_delta_threshold, or back, becomes part of the file's offset
// so that the output's time line goes on without it.
void TCustomFFmpeg::FollowDiscontinuity(int file_index, const TInputStreamState& ist, AVPacket* pkt) {
    if (pkt->dts == AV_NOPTS_VALUE || ist.next_pts == AV_NOPTS_VALUE || copy_ts) return;
    const AVRational tb = ist.stream->time_base;
    const int64_t pkt_dts = avutil.av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
    const int64_t delta = pkt_dts - ist.next_pts;
    if (std::llabs(delta) <= static_cast<int64_t>(dts_delta_threshold * 1000000.0) && pkt_dts + 1 >= ist.pts) return;
    input_ts_offsets[file_index] -= delta;
    if (verbosity > 2 && OnLog)
        OnLog(this, 1,
              FormatText("timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta,
                         input_ts_offsets[file_index]));
    const int64_t d = avutil.av_rescale_q(delta, AV_TIME_BASE_Q, tb);
    pkt->dts -= d;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
}

void TCustomFFmpeg::RemoveOpenEncoder(const TOutputStreamState& ost) {
    run->open_encoders.remove_if([&](const TOpenCodec& node) { return node.record == &ost; });
}

void TCustomFFmpeg::RemoveOpenDecoder(const TInputStreamState& ist) {
    run->open_decoders.remove_if([&](const TOpenCodec& node) { return node.record == &ist; });
}
