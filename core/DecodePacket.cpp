// One packet of one input stream: the input clock, decoding, volume, pacing and
// the hand-over to every output stream it feeds; without a packet, the drain of
// the decoder and then of the encoders at the end of the input.
#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

constexpr int kMaxChannels = 64;

}  // namespace

int TCustomFFmpeg::DecodePacket(TInputStreamState& ist, int ist_index, AVPacket* pkt) {
    const AVRational tb = ist.stream->time_base;
    if (ist.next_pts == AV_NOPTS_VALUE) ist.next_pts = ist.pts;
    if (pkt && pkt->dts != AV_NOPTS_VALUE)
        ist.pts = ist.next_pts = avutil.av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);

    const AVMediaType type = ist.stream->codecpar->codec_type;
    int decoded = 0;
    if (ist.decoding_needed) {
        decoded = DecodeStream(ist, ist_index, pkt);
        if (decoded < 0 && pkt) return -1;
    } else if (pkt) {
        ist.pts = ist.next_pts;
        int64_t duration = 0;
        const AVCodecParameters* par = ist.stream->codecpar;
        if (type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
            duration = int64_t{1000000} * par->frame_size / par->sample_rate;
        else if (pkt->duration > 0)
            duration = avutil.av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
        else if (type == AVMEDIA_TYPE_VIDEO && ist.stream->avg_frame_rate.num > 0)
            duration = avutil.av_rescale_q(1, av_inv_q(ist.stream->avg_frame_rate), AV_TIME_BASE_Q);
        ist.next_pts += duration;
        PaceReading(ist);
    }

    // Copied streams take the packet as it came, once per packet.
    if (pkt && (start_time == 0 || ist.pts >= start_time)) CopyPacket(ist, ist_index, *pkt);
    // At the end the encoders give out what they hold, whatever the decoder's
    // drain said.
    if (!pkt) FlushEncoders(ist, ist_index);
    return decoded;
}

int TCustomFFmpeg::DecodeStream(TInputStreamState& ist, int ist_index, AVPacket* pkt) {
    switch (ist.stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO: return DecodeVideo(ist, ist_index, pkt) < 0 ? -1 : 0;
        case AVMEDIA_TYPE_SUBTITLE: return DecodeSubtitle(ist, ist_index, pkt) < 0 ? -1 : 0;
        case AVMEDIA_TYPE_AUDIO: return DecodeAudio(ist, ist_index, pkt) < 0 ? -1 : 0;
        default: return -1;
    }
}

// End of the input: the encoders fed by this stream give out what they hold.
void TCustomFFmpeg::FlushEncoders(TInputStreamState& ist, int ist_index) {
    for (auto& ost : run->ost_table) {
        if (ost->source_index != ist_index || !ost->encoding_needed) continue;
        if (ost->enc->codec_type == AVMEDIA_TYPE_AUDIO)
            FlushAudioEncoder(run->outputs[ost->file_index], *ost);
        else if (ost->enc->codec_type == AVMEDIA_TYPE_VIDEO)
            FlushVideoEncoder(run->outputs[ost->file_index], *ost, ist);
    }
}

int TCustomFFmpeg::DecodeAudio(TInputStreamState& ist, int ist_index, const AVPacket* pkt) {
    AVCodecContext* dec = ist.dec;
    int r = avcodec.avcodec_send_packet(dec, pkt);
    if (r == AVERROR(EAGAIN)) {
        // Frames of an earlier packet are still waiting: hand them on first.
        if (ReceiveAudioFrames(ist, ist_index, pkt) < 0) return -1;
        r = avcodec.avcodec_send_packet(dec, pkt);
    }
    if (r < 0 && r != AVERROR_EOF) return -1;
    return ReceiveAudioFrames(ist, ist_index, pkt);
}

int TCustomFFmpeg::ReceiveAudioFrames(TInputStreamState& ist, int ist_index, const AVPacket* pkt) {
    AVFrame* frame = run->decoded_frame.get();
    int frames = 0;
    while (true) {
        const int r = avcodec.avcodec_receive_frame(ist.dec, frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
        if (r < 0) return -1;
        if (frames++ > 0 && pkt && verbosity > 0 && OnLog)
            OnLog(this, 0, FormatText("Multiple frames in a packet from stream %d", pkt->stream_index));
        ist.pts = ist.next_pts;
        const uint8_t* block = nullptr;
        const int size = ToPackedS16(ist, frame, block);
        if (size <= 0) {
            avutil.av_frame_unref(frame);
            continue;
        }
        // The clock runs on by the true length of what was decoded.
        ist.next_pts += int64_t{size} * 500000 / (int64_t{ist.block_rate} * ist.block_channels);
        if (audio_volume != 256) ApplyVolume(run->samples_buffer.Data(), size);
        PaceReading(ist);
        if (start_time == 0 || ist.pts >= start_time) {
            for (auto& ost : run->ost_table) {
                if (ost->source_index != ist_index || !ost->encoding_needed) continue;
                if (ost->enc->codec_type != AVMEDIA_TYPE_AUDIO) throw FFmpegException("invalid codec_type");
                EncodeAudioBlock(run->outputs[ost->file_index], *ost, ist, block, size);
            }
        }
        avutil.av_frame_unref(frame);
    }
}

// Decoders of this library generation hand out their own sample formats (often
// planar float); the rest of the path works on packed signed 16-bit, so every
// decoded frame is brought to that here, at the decoder's rate and channels.
int TCustomFFmpeg::ToPackedS16(TInputStreamState& ist, const AVFrame* frame, const uint8_t*& block) {
    const int channels = frame->ch_layout.nb_channels;
    const int rate = frame->sample_rate;
    const int n = frame->nb_samples;
    if (channels < 1 || channels > kMaxChannels || rate < 1 || n < 1) return 0;
    const int size = n * channels * 2;
    uint8_t* out = run->samples_buffer.Reserve(static_cast<size_t>(size));
    if (!out) return 0;
    ist.block_channels = channels;
    ist.block_rate = rate;
    if (frame->format == AV_SAMPLE_FMT_S16) {
        std::copy_n(frame->data[0], size, out);
        block = out;
        return size;
    }
    if (!ist.to_s16 || ist.to_s16_format != frame->format || ist.to_s16_rate != rate ||
        ist.to_s16_channels != channels) {
        ist.to_s16.reset();
        AVChannelLayout layout{};
        avutil.av_channel_layout_default(&layout, channels);
        SwrContext* raw = nullptr;
        if (swresample.swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_S16, rate, &layout,
                                           static_cast<AVSampleFormat>(frame->format), rate, 0, nullptr) < 0)
            return 0;
        TSwrPtr swr(raw);
        if (swresample.swr_init(swr.get()) < 0) return 0;
        ist.to_s16 = std::move(swr);
        ist.to_s16_format = frame->format;
        ist.to_s16_rate = rate;
        ist.to_s16_channels = channels;
    }
    std::array<uint8_t*, 1> outs{out};
    const int got = swresample.swr_convert(ist.to_s16.get(), outs.data(), n,
                                           const_cast<const uint8_t**>(frame->extended_data), n);
    if (got <= 0) return 0;
    block = out;
    return got * channels * 2;
}

void TCustomFFmpeg::ApplyVolume(uint8_t* data, int size) const {
    auto* s = reinterpret_cast<int16_t*>(data);
    // 64 bits: any volume the option takes times any sample fits.
    for (int i = 0; i < size / 2; ++i) {
        const int64_t v = (int64_t{s[i]} * audio_volume + 128) >> 8;
        s[i] = static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
    }
}

void TCustomFFmpeg::PaceReading(const TInputStreamState& ist) const {
    if (!rate_emulation) return;
    // A timestamp far ahead (a damaged file) must not hold the task: the wait
    // is cut in short slices that each look at the stop request.
    constexpr int64_t kSliceUs = 50000;
    while (!stop_requested.load(std::memory_order_relaxed)) {
        const int64_t wait = ist.pts - (avutil.av_gettime() - ist.wallclock_start);
        if (wait <= 1000) return;
        std::this_thread::sleep_for(std::chrono::microseconds(std::min(wait, kSliceUs)));
    }
}

void TCustomFFmpeg::CopyPacket(TInputStreamState& ist, int ist_index, const AVPacket& pkt) {
    const AVRational tb = ist.stream->time_base;
    for (auto& ost_ptr : run->ost_table) {
        TOutputStreamState& ost = *ost_ptr;
        if (ost.source_index != ist_index || !ost.stream_copy) continue;
        if (ost.frame_number == 0 && !(pkt.flags & AV_PKT_FLAG_KEY) && !copy_initial_nonkey) continue;
        const AVMediaType type = ist.stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO) {
            run->audio_size += pkt.size;
        } else if (type == AVMEDIA_TYPE_VIDEO) {
            run->video_size += pkt.size;
            ost.sample_clock += 1;
        }
        AVPacket* op = run->copy_packet.get();
        if (avcodec.av_packet_ref(op, &pkt) < 0) throw FFmpegException("av_malloc failed");
        const AVRational otb = ost.stream->time_base;
        op->stream_index = ost.index;
        op->pts = pkt.pts != AV_NOPTS_VALUE ? avutil.av_rescale_q(pkt.pts, tb, otb) : AV_NOPTS_VALUE;
        op->dts = pkt.dts == AV_NOPTS_VALUE ? avutil.av_rescale_q(ist.pts, AV_TIME_BASE_Q, otb)
                                            : avutil.av_rescale_q(pkt.dts, tb, otb);
        op->duration = avutil.av_rescale_q(pkt.duration, tb, otb);
        op->pos = -1;
        try {
            WriteFrame(run->outputs[ost.file_index], op, ost);
        } catch (...) {
            avcodec.av_packet_unref(op);
            throw;
        }
        avcodec.av_packet_unref(op);
        ost.frame_number++;
    }
}
