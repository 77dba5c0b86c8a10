// The audio encoding path: a block of decoded samples becomes encoded packets of
// one output stream (channels, rate and format change, drift handling, whole
// encoder frames).
//
// Blocks arrive as packed signed 16-bit samples at the decoder's rate and
// channel count (DecodePacket brings them there), so the clock, the volume and
// the drift cut and padding below all count 16-bit samples.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "binding/FFmpegLoader.h"
#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

constexpr int kMaxSilenceBytes = 131072;
constexpr int kMaxChannels = 64;

void DefaultLayout(AVChannelLayout& layout, int channels) { avutil.av_channel_layout_default(&layout, channels); }

// A converter/resampler from packed s16 (in_channels @ in_rate) to the encoder's
// format; resampling uses a 16-tap filter with 2^10 phases, cut off at 0.8.
TSwrPtr MakeResampler(const AVChannelLayout& out_layout, AVSampleFormat out_fmt, int out_rate, int in_channels,
                      int in_rate, bool resample) {
    AVChannelLayout in_layout{};
    DefaultLayout(in_layout, in_channels);
    AVChannelLayout out = out_layout;
    SwrContext* raw = nullptr;
    if (swresample.swr_alloc_set_opts2(&raw, &out, out_fmt, out_rate, &in_layout, AV_SAMPLE_FMT_S16, in_rate, 0,
                                       nullptr) < 0)
        return nullptr;
    TSwrPtr swr(raw);
    // Mono spreads to both sides at full level; stereo folds to mono as the
    // average, which cannot clip.
    static const double kMonoToStereo[2] = {1.0, 1.0};
    static const double kStereoToMono[2] = {0.5, 0.5};
    if (in_channels == 1 && out_layout.nb_channels == 2)
        swresample.swr_set_matrix(swr.get(), kMonoToStereo, 1);
    else if (in_channels == 2 && out_layout.nb_channels == 1)
        swresample.swr_set_matrix(swr.get(), kStereoToMono, 2);
    if (resample) {
        avutil.av_opt_set_int(swr.get(), "filter_size", 16, 0);
        avutil.av_opt_set_int(swr.get(), "phase_shift", 10, 0);
        avutil.av_opt_set_int(swr.get(), "linear_interp", 0, 0);
        avutil.av_opt_set(swr.get(), "cutoff", "0.8", 0);
    }
    if (swresample.swr_init(swr.get()) < 0) return nullptr;
    return swr;
}

// Plane pointers of n samples in buf laid out in the given format.
int FillPlanes(std::array<uint8_t*, kMaxChannels>& planes, uint8_t* buf, AVSampleFormat fmt, int channels, int n) {
    const int bps = avutil.av_get_bytes_per_sample(fmt);
    if (avutil.av_sample_fmt_is_planar(fmt)) {
        for (int c = 0; c < channels; ++c) planes[c] = buf + static_cast<size_t>(c) * n * bps;
        return channels;
    }
    planes[0] = buf;
    return 1;
}

}  // namespace

void TCustomFFmpeg::StartEncoderThread(AVFormatContext* os, TOutputStreamState& ost) {
    AVCodecContext* enc = ost.enc;
    // The pool is bounded by the bytes its frames hold, not by their count.
    const int frame_bytes = avutil.av_samples_get_buffer_size(nullptr, enc->ch_layout.nb_channels, enc->frame_size,
                                                              enc->sample_fmt, 0);
    if (frame_bytes <= 0) return;
    const size_t count = EncoderPoolFrames(static_cast<size_t>(frame_bytes), encoder_queue_bytes);
    std::vector<TFramePtr> pool;
    for (size_t i = 0; i < count; ++i) {
        TFramePtr frame(avutil.av_frame_alloc());
        if (!frame) throw FFmpegException("av_malloc failed");
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        avutil.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        frame->nb_samples = enc->frame_size;
        if (avutil.av_frame_get_buffer(frame.get(), 0) < 0) throw FFmpegException("av_malloc failed");
        pool.push_back(std::move(frame));
    }
    ost.encoder_worker = std::make_unique<TEncoderWorker>(
        [this, &ost](const AVFrame* frame, TPacketBatch& out) { EncodeAudioFrame(ost, frame, out); },
        [this, os, &ost](AVPacket* pkt) { WriteAudioPacket(os, ost, pkt); }, std::move(pool));
    helper_thread_id = ost.encoder_worker->ThreadId();
}

void TCustomFFmpeg::PrepareAudioEncoder(TOutputStreamState& ost) {
    AVCodecContext* enc = ost.enc;
    const int channels = enc->ch_layout.nb_channels;
    ost.sample_fifo.reset(avutil.av_audio_fifo_alloc(enc->sample_fmt, channels, std::max(enc->frame_size, 1024)));
    ost.enc_frame.reset(avutil.av_frame_alloc());
    if (!ost.sample_fifo || !ost.enc_frame || channels < 1 || channels > kMaxChannels)
        throw FFmpegException("av_fifo_init fail");
    ost.enc_frame_capacity = 0;
}

void TCustomFFmpeg::EncodeAudioBlock(AVFormatContext* os, TOutputStreamState& ost, TInputStreamState& ist,
                                     const uint8_t* buf, int size) {
    if (ist.block_channels < 1 || ist.block_channels > kMaxChannels) return;
    CheckInputRate(ist, ist.block_rate);  // a decoder may hand out another rate than the header said
    PrepareAudioConverters(ost, ist);
    if (!KeepAudioInStep(ost, ist, buf, size)) return;
    ConvertAndQueue(os, ost, buf, size / (2 * ist.block_channels));
}

void TCustomFFmpeg::PrepareAudioConverters(TOutputStreamState& ost, const TInputStreamState& ist) {
    const AVCodecContext* enc = ost.enc;
    const AVSampleFormat enc_fmt = enc->sample_fmt;
    const int dec_channels = ist.block_channels;
    const int dec_rate = ist.block_rate;
    if (enc->ch_layout.nb_channels != dec_channels || enc->sample_rate != dec_rate) ost.resample_needed = 1;
    // A decoder that changes its channel count or rate midway (a hostile or
    // spliced file) gets converters made for what it hands out now; the old
    // ones would read past the block.
    if (dec_channels != ost.swr_in_channels || dec_rate != ost.swr_in_rate) {
        ost.resampler.reset();
        ost.converter.reset();
        ost.convert_pair = -6;
        ost.swr_in_channels = dec_channels;
        ost.swr_in_rate = dec_rate;
    }
    if (ost.resample_needed && !ost.resampler) {
        if (ist.dec->sample_fmt != AV_SAMPLE_FMT_S16 && verbosity > 0 && OnLog)
            OnLog(this, 1, "Warning, using s16 intermediate sample format for resampling");
        ost.resampler = MakeResampler(enc->ch_layout, enc_fmt, enc->sample_rate, dec_channels, dec_rate, true);
        if (!ost.resampler)
            throw FFmpegException(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                             dec_channels, dec_rate, enc->ch_layout.nb_channels, enc->sample_rate));
    }
    if (ost.resample_needed || enc_fmt == AV_SAMPLE_FMT_S16) return;
    const int pair = static_cast<int>(enc_fmt) + 64 * static_cast<int>(AV_SAMPLE_FMT_S16);
    if (pair == ost.convert_pair) return;
    ost.converter = MakeResampler(enc->ch_layout, enc_fmt, enc->sample_rate, dec_channels, dec_rate, false);
    if (!ost.converter)
        throw FFmpegException(FormatText("Cannot convert %s sample format to %s sample format",
                                         avutil.av_get_sample_fmt_name(AV_SAMPLE_FMT_S16),
                                         avutil.av_get_sample_fmt_name(enc_fmt)));
    ost.convert_pair = pair;
}

bool TCustomFFmpeg::KeepAudioInStep(TOutputStreamState& ost, TInputStreamState& ist, const uint8_t*& buf,
                                    int& size) {
    const int enc_rate = ost.enc->sample_rate;
    const double ipts = static_cast<double>(ost.sync_input->pts - start_time) / 1000000.0;
    const int queued = avutil.av_audio_fifo_size(ost.sample_fifo.get());  // samples per channel
    if (audio_sync_method == 0) {
        if (ist.at_start && NeedsSoundUnderEveryPicture(ost)) {
            FillSoundBeforeStart(ost, ist, buf, size);
            return true;
        }
        ost.sample_clock = std::llrint(ipts * enc_rate) - queued;
        return true;
    }
    const double delta = ipts * enc_rate - static_cast<double>(ost.sample_clock) - queued;
    if (std::fabs(delta) <= 50) return true;
    if (ist.at_start || std::fabs(delta) > enc_rate * audio_drift_threshold) {
        const int byte_delta = BlockBytes(delta * ist.block_rate / enc_rate, ist.block_channels);
        if (byte_delta < 0) return DiscardAudio(ist, buf, size, byte_delta, delta);
        PadWithSilence(ist, buf, size, byte_delta, delta);
        return true;
    }
    if (audio_sync_method > 1) {
        const int comp = static_cast<int>(std::clamp(std::trunc(delta), -static_cast<double>(audio_sync_method),
                                                     static_cast<double>(audio_sync_method)));
        if (!ost.resampler) throw EAssertionFailed("Assertion failed: audio drift stretch without resampler");
        if (verbosity > 2 && OnLog)
            OnLog(this, 1,
                  FormatText("compensating audio timestamp drift:%f compensation:%d in:%d", delta, comp, enc_rate));
        swresample.swr_set_compensation(ost.resampler.get(), comp, enc_rate);
    }
    return true;
}

int TCustomFFmpeg::BlockBytes(double samples, int channels) {
    constexpr double kMost = 1 << 22;  // 87 s at 48 kHz
    return static_cast<int>(std::trunc(std::clamp(samples, -kMost, kMost))) * 2 * channels;
}

bool TCustomFFmpeg::DiscardAudio(TInputStreamState& ist, const uint8_t*& buf, int& size, int byte_delta,
                                 double delta) {
    byte_delta = std::max(byte_delta, -size);
    size += byte_delta;
    buf -= byte_delta;
    if (verbosity > 2 && OnLog)
        OnLog(this, 1, FormatText("discarding %d audio samples", static_cast<int>(std::trunc(-delta))));
    if (size == 0) return false;
    ist.at_start = 0;
    return true;
}

void TCustomFFmpeg::PadWithSilence(TInputStreamState& ist, const uint8_t*& buf, int& size, int byte_delta,
                                   double delta) {
    const int frame_in = 2 * ist.block_channels;
    if (size + byte_delta <= kMaxSilenceBytes) {
        ist.at_start = 0;
    } else {
        // The rest of the silence follows with the next block; a block
        // that alone fills the limit gets none this time.
        byte_delta = std::max(0, kMaxSilenceBytes - size);
        byte_delta -= byte_delta % frame_in;
    }
    uint8_t* silence = run->silence_buffer.Grow(static_cast<size_t>(size) + byte_delta);
    if (!silence) throw FFmpegException("av_malloc failed");
    std::memset(silence, 0, static_cast<size_t>(byte_delta));
    std::memcpy(silence + byte_delta, buf, static_cast<size_t>(size));
    buf = silence;
    size += byte_delta;
    if (verbosity > 2 && OnLog)
        OnLog(this, 1, FormatText("adding %d audio samples of silence", static_cast<int>(std::trunc(delta))));
}

void TCustomFFmpeg::ConvertAndQueue(AVFormatContext* os, TOutputStreamState& ost, const uint8_t* buf,
                                    int in_samples) {
    const AVCodecContext* enc = ost.enc;
    const AVSampleFormat enc_fmt = enc->sample_fmt;
    const int enc_channels = enc->ch_layout.nb_channels;
    std::array<const uint8_t*, 1> in_planes{buf};
    std::array<uint8_t*, kMaxChannels> planes{};
    int out_samples = in_samples;
    SwrContext* swr = ost.resample_needed ? ost.resampler.get()
                                          : (enc_fmt != AV_SAMPLE_FMT_S16 ? ost.converter.get() : nullptr);
    if (swr) {
        const int cap = swresample.swr_get_out_samples(swr, in_samples) + 16;
        const size_t bytes = static_cast<size_t>(cap) * avutil.av_get_bytes_per_sample(enc_fmt) * enc_channels;
        uint8_t* out = run->audio_buffer.Reserve(bytes);
        if (!out) return;
        FillPlanes(planes, out, enc_fmt, enc_channels, cap);
        out_samples = swresample.swr_convert(swr, planes.data(), cap, const_cast<const uint8_t**>(in_planes.data()),
                                             in_samples);
        if (out_samples < 0) {
            if (exit_on_error) throw FFmpegException("av_audio_convert() failed");
            Log(0, "av_audio_convert() failed");
            return;
        }
    } else {
        planes[0] = const_cast<uint8_t*>(buf);
    }
    QueueAndEncode(os, ost, planes.data(), out_samples);
}

void TCustomFFmpeg::QueueAndEncode(AVFormatContext* os, TOutputStreamState& ost, uint8_t** planes, int samples) {
    if (samples > 0 &&
        avutil.av_audio_fifo_write(ost.sample_fifo.get(), reinterpret_cast<void**>(planes), samples) < samples)
        throw FFmpegException("av_fifo_realloc2() failed");
    const int frame_size = ost.enc->frame_size;
    if (NeedsSoundUnderEveryPicture(ost)) {
        EncodeWholeDvFrames(os, ost);
    } else if (frame_size > 1 && !(ost.enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
        while (avutil.av_audio_fifo_size(ost.sample_fifo.get()) >= frame_size) {
            EncodeQueuedAudio(os, ost, frame_size);
            ost.sample_clock += frame_size;
        }
    } else {
        const int n = avutil.av_audio_fifo_size(ost.sample_fifo.get());
        if (n > 0) {
            ost.sample_clock += n;
            EncodeQueuedAudio(os, ost, n);
        }
    }
}

void TCustomFFmpeg::EncodeQueuedAudio(AVFormatContext* os, TOutputStreamState& ost, int samples) {
    AVCodecContext* enc = ost.enc;
    if (ost.encoder_worker) {
        // Pool frames hold a whole encoder frame; only the last one is shorter.
        AVFrame* frame = ost.encoder_worker->Acquire();
        if (avutil.av_frame_make_writable(frame) < 0) throw FFmpegException("av_malloc failed");
        frame->nb_samples = samples;
        if (avutil.av_audio_fifo_read(ost.sample_fifo.get(), reinterpret_cast<void**>(frame->data), samples) <
            samples)
            throw FFmpegException("Audio encoding failed");
        frame->pts = ost.enc_next_pts;
        ost.enc_next_pts += samples;
        ost.frames_submitted++;
        ost.encoder_worker->Submit();
        return;
    }
    AVFrame* frame = ost.enc_frame.get();
    if (samples > ost.enc_frame_capacity) {
        avutil.av_frame_unref(frame);
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        avutil.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        frame->nb_samples = std::max(samples, enc->frame_size);
        if (avutil.av_frame_get_buffer(frame, 0) < 0) throw FFmpegException("av_malloc failed");
        ost.enc_frame_capacity = frame->nb_samples;
    }
    if (avutil.av_frame_make_writable(frame) < 0) throw FFmpegException("av_malloc failed");
    frame->nb_samples = samples;
    if (avutil.av_audio_fifo_read(ost.sample_fifo.get(), reinterpret_cast<void**>(frame->data), samples) < samples)
        throw FFmpegException("Audio encoding failed");
    frame->pts = ost.enc_next_pts;
    ost.enc_next_pts += samples;
    ost.frames_submitted++;
    EncodeAndWriteAudio(os, ost, frame);
}

void TCustomFFmpeg::EncodeAudioFrame(TOutputStreamState& ost, const AVFrame* frame, TPacketBatch& out) {
    AVCodecContext* enc = ost.enc;
    int r = avcodec.avcodec_send_frame(enc, frame);
    if (r < 0 && r != AVERROR_EOF) throw FFmpegException("Audio encoding failed");
    while (true) {
        AVPacket* pkt = out.Next();
        r = avcodec.avcodec_receive_packet(enc, pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) throw FFmpegException("Audio encoding failed");
        pkt->stream_index = ost.index;
        avcodec.av_packet_rescale_ts(pkt, enc->time_base, ost.stream->time_base);
        pkt->flags |= AV_PKT_FLAG_KEY;
        out.Keep();
    }
}

void TCustomFFmpeg::WriteAudioPacket(AVFormatContext* os, TOutputStreamState& ost, AVPacket* pkt) {
    run->audio_size += pkt->size;
    WriteFrame(os, pkt, ost);
    ost.frame_number++;
}

void TCustomFFmpeg::EncodeAndWriteAudio(AVFormatContext* os, TOutputStreamState& ost, const AVFrame* frame) {
    TPacketBatch& packets = run->audio_packets;
    packets.Clear();
    EncodeAudioFrame(ost, frame, packets);
    for (size_t i = 0; i < packets.Size(); ++i) WriteAudioPacket(os, ost, packets.At(i));
    packets.Clear();
}

void TCustomFFmpeg::FlushAudioEncoder(AVFormatContext* os, TOutputStreamState& ost) {
    AVCodecContext* enc = ost.enc;
    const int enc_channels = enc->ch_layout.nb_channels;
    const int osize = avutil.av_get_bytes_per_sample(enc->sample_fmt);
    // Samples still inside the resampler's filter belong to the output too.
    if (SwrContext* swr = ost.resampler.get()) {
        std::array<uint8_t*, kMaxChannels> planes{};
        constexpr int cap = 4096;
        uint8_t* out = run->audio_buffer.Reserve(static_cast<size_t>(cap) * osize * enc_channels);
        if (out) {
            FillPlanes(planes, out, enc->sample_fmt, enc_channels, cap);
            int n;
            while ((n = swresample.swr_convert(swr, planes.data(), cap, nullptr, 0)) > 0) {
                if (avutil.av_audio_fifo_write(ost.sample_fifo.get(), reinterpret_cast<void**>(planes.data()), n) < n)
                    throw FFmpegException("av_fifo_realloc2() failed");
            }
        }
    }
    if (NeedsSoundUnderEveryPicture(ost)) FillSoundToDvFrame(ost);
    QueueAndEncode(os, ost, nullptr, 0);
    // The short last frame; the library pads it for encoders that need whole frames.
    const int rest = avutil.av_audio_fifo_size(ost.sample_fifo.get());
    if (rest > 0) {
        ost.sample_clock += rest;
        EncodeQueuedAudio(os, ost, rest);
    }
    if (ost.encoder_worker)
        ost.encoder_worker->Finish();
    else
        EncodeAndWriteAudio(os, ost, nullptr);
}
