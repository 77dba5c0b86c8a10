// The DV muxer builds a frame only once every sound stream holds that frame's
// samples: a picture that finds too little sound is lost ("Insufficient audio
// data") and the file cannot be ended. Where the input's sound starts late or
// ends early, silence fills in, so every DV frame has its sound.
//
// The muxer also judges whether it holds the next frame's sound by the size of
// the frame it just built. NTSC frames differ (1600 or 1602 samples), so sound
// handed over in pieces of any size can leave it 1600 or 1601 samples for a
// frame of 1602, and the library then aborts the process when it takes them.
// The sound therefore goes to it a whole frame's worth at a time, and the last
// piece is filled up to its frame with silence.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"

namespace {

bool IsDv(const AVFormatContext* os) { return os && os->oformat && std::strcmp(os->oformat->name, "dv") == 0; }

// NTSC's five-frame cycle of 48 kHz sound, 8008 samples over five frames (SMPTE 314M).
constexpr int kNtscFrameSamples[5] = {1600, 1602, 1602, 1602, 1602};

}  // namespace

bool TCustomFFmpeg::NeedsSoundUnderEveryPicture(const TOutputStreamState& ost) const {
    return ost.encoding_needed && ost.enc->codec_type == AVMEDIA_TYPE_AUDIO &&
           IsDv(run->outputs[ost.file_index]);
}

// The end of the pictures of the audio stream's file, in its samples; -1 when none were written.
int64_t TCustomFFmpeg::PicturesEndInSamples(const TOutputStreamState& audio) const {
    int64_t end = -1;
    for (const auto& ost : run->ost_table) {
        if (ost->file_index != audio.file_index || ost->stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const int64_t pts = ost->cur_pts;
        if (pts == AV_NOPTS_VALUE) continue;
        // The last picture's length may not be in cur_pts: one more frame of sound is kept in hand.
        const AVRational frame = av_inv_q(ost->stream->avg_frame_rate.num > 0 ? ost->stream->avg_frame_rate
                                                                              : ost->enc->framerate);
        const int64_t last = avutil.av_rescale_q(pts, ost->stream->time_base, AVRational{1, audio.enc->sample_rate});
        const int64_t one = frame.den > 0 ? avutil.av_rescale_q(1, frame, AVRational{1, audio.enc->sample_rate}) : 0;
        end = std::max(end, last + one);
    }
    return end;
}

// The samples of the audio stream's DV frame number `frame`: PAL frames hold a
// 25th of a second at any of the muxer's rates, NTSC frames follow the cycle.
int TCustomFFmpeg::DvFrameSamples(const TOutputStreamState& audio, int64_t frame) const {
    for (const auto& ost : run->ost_table) {
        if (ost->file_index != audio.file_index || !ost->enc || ost->enc->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const AVRational tb = ost->enc->time_base;
        if (tb.num == 1 && (tb.den == 25 || tb.den == 50)) return audio.enc->sample_rate / 25;
        break;
    }
    return kNtscFrameSamples[frame % 5];
}

void TCustomFFmpeg::EncodeWholeDvFrames(AVFormatContext* os, TOutputStreamState& ost) {
    for (int n = DvFrameSamples(ost, ost.dv_sound_frames); avutil.av_audio_fifo_size(ost.sample_fifo.get()) >= n;
         n = DvFrameSamples(ost, ost.dv_sound_frames)) {
        ost.sample_clock += n;
        EncodeQueuedAudio(os, ost, n);
        ++ost.dv_sound_frames;
    }
}

void TCustomFFmpeg::FillSoundToDvFrame(TOutputStreamState& ost) {
    AVAudioFifo* fifo = ost.sample_fifo.get();
    const int queued = avutil.av_audio_fifo_size(fifo);
    if (queued == 0) return;
    const int missing = DvFrameSamples(ost, ost.dv_sound_frames) - queued;
    if (missing <= 0) return;
    // Signed PCM: zero is silence.
    std::vector<uint8_t> silence(static_cast<size_t>(missing) * 2 * ost.enc->ch_layout.nb_channels);
    void* planes[1] = {silence.data()};
    if (avutil.av_audio_fifo_write(fifo, planes, missing) < missing) throw FFmpegException("av_malloc failed");
}

void TCustomFFmpeg::FillSoundToPicturesEnd(AVFormatContext* os, TOutputStreamState& ost) {
    if (!NeedsSoundUnderEveryPicture(ost) || ost.enc->codec_id != AV_CODEC_ID_PCM_S16LE) return;
    const int64_t end = PicturesEndInSamples(ost);
    const int channels = ost.enc->ch_layout.nb_channels;
    const AVRational samples{1, ost.enc->sample_rate};
    TPacketPtr pkt(avcodec.av_packet_alloc());
    if (!pkt) throw FFmpegException("av_malloc failed");
    // A frame's worth at a time, so that the packets interleave with the pictures.
    while (ost.enc_next_pts < end) {
        const int n = DvFrameSamples(ost, ost.dv_sound_frames++);
        avcodec.av_packet_unref(pkt.get());
        if (avcodec.av_new_packet(pkt.get(), n * channels * 2) < 0) throw FFmpegException("av_malloc failed");
        std::memset(pkt->data, 0, static_cast<size_t>(pkt->size));  // signed PCM: zero is silence
        pkt->pts = pkt->dts = avutil.av_rescale_q(ost.enc_next_pts, samples, ost.stream->time_base);
        pkt->duration = avutil.av_rescale_q(n, samples, ost.stream->time_base);
        pkt->stream_index = ost.index;
        pkt->flags |= AV_PKT_FLAG_KEY;
        ost.enc_next_pts += n;
        ost.sample_clock += n;
        WriteAudioPacket(os, ost, pkt.get());
    }
}

std::string TCustomFFmpeg::WriteFailureText(const AVFormatContext* os, int code) const {
    // The DV muxer refuses a frame it cannot build as an invalid argument; only its
    // log line says why, and not every user sees the log.
    if (IsDv(os) && code == AVERROR(EINVAL))
        return "av_interleaved_write_frame(): a DV frame could not be built "
               "(Insufficient audio data or severe sync problem)";
    return FFmpegWriteErrorText("av_interleaved_write_frame()", code);
}

// Sound that starts after the pictures gets silence before it, as much at a time as
// PadWithSilence takes; the clock counts what was queued until the gap is filled.
void TCustomFFmpeg::FillSoundBeforeStart(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t*& buf,
                                         int& size) {
    const int enc_rate = ost.enc->sample_rate;
    const double ipts = static_cast<double>(ost.sync_input->pts - start_time) / 1000000.0;
    const int queued = avutil.av_audio_fifo_size(ost.sample_fifo.get());
    const double late = ipts * enc_rate - static_cast<double>(ost.sample_clock) - queued;  // samples
    const int byte_delta = BlockBytes(late * ist.block_rate / enc_rate, ist.block_channels);
    if (byte_delta <= 0) {
        ist.at_start = 0;
        ost.sample_clock = std::llrint(ipts * enc_rate) - queued;
        return;
    }
    PadWithSilence(ist, buf, size, byte_delta, late);
}
