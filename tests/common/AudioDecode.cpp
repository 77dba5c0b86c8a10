// Any audio file decoded by the media libraries, for the kinds libmpg123 and
// the WAV reader do not read: the first audio stream to interleaved floats.
#include "binding/FFmpegLoader.h"
#include "tests/common/AudioCheck.h"

namespace ardentix::test {

namespace {

template <typename T>
float At(const AVFrame* f, int i, int c, int channels, double full_scale) {
  const bool planar = avutil.av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f->format));
  const T v = planar ? reinterpret_cast<const T*>(f->extended_data[c])[i]
                     : reinterpret_cast<const T*>(f->data[0])[i * channels + c];
  return static_cast<float>(v / full_scale);
}

// One sample of channel c of frame i, for the formats the decoders give.
float Sample(const AVFrame* f, int i, int c, int channels) {
  switch (avutil.av_get_packed_sample_fmt(static_cast<AVSampleFormat>(f->format))) {
    case AV_SAMPLE_FMT_FLT: return At<float>(f, i, c, channels, 1.0);
    case AV_SAMPLE_FMT_S16: return At<int16_t>(f, i, c, channels, 32768.0);
    case AV_SAMPLE_FMT_S32: return At<int32_t>(f, i, c, channels, 2147483648.0);
    default: return 0.0f;
  }
}

}  // namespace

DecodedAudio DecodeWithLibraries(const std::string& path) {
  DecodedAudio out;
  AVFormatContext* ic = nullptr;
  if (avformat.avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
    out.error = "cannot open";
    return out;
  }
  struct Close {
    AVFormatContext*& ic;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    ~Close() {
      avutil.av_frame_free(&frame);
      avcodec.avcodec_free_context(&dec);
      avcodec.av_packet_free(&pkt);
      avformat.avformat_close_input(&ic);
    }
  } close{ic};
  avformat.avformat_find_stream_info(ic, nullptr);
  int index = -1;
  for (unsigned i = 0; i < ic->nb_streams && index < 0; ++i)
    if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) index = static_cast<int>(i);
  if (index < 0) {
    out.error = "no audio stream";
    return out;
  }
  const AVCodecParameters* par = ic->streams[index]->codecpar;
  const AVCodec* codec = avcodec.avcodec_find_decoder(par->codec_id);
  close.dec = avcodec.avcodec_alloc_context3(codec);
  close.pkt = avcodec.av_packet_alloc();
  close.frame = avutil.av_frame_alloc();
  if (!codec || !close.dec || !close.pkt || !close.frame ||
      avcodec.avcodec_parameters_to_context(close.dec, par) < 0 || avcodec.avcodec_open2(close.dec, codec, nullptr) < 0) {
    out.error = "no decoder";
    return out;
  }
  const auto drain = [&] {
    while (avcodec.avcodec_receive_frame(close.dec, close.frame) >= 0) {
      out.rate = close.frame->sample_rate;
      out.channels = close.frame->ch_layout.nb_channels;
      for (int i = 0; i < close.frame->nb_samples; ++i)
        for (int c = 0; c < out.channels; ++c) out.samples.push_back(Sample(close.frame, i, c, out.channels));
      out.frames += static_cast<size_t>(close.frame->nb_samples);
    }
  };
  while (avformat.av_read_frame(ic, close.pkt) >= 0) {
    if (close.pkt->stream_index == index && avcodec.avcodec_send_packet(close.dec, close.pkt) >= 0) drain();
    avcodec.av_packet_unref(close.pkt);
  }
  avcodec.avcodec_send_packet(close.dec, nullptr);
  drain();
  out.ok = out.frames > 0;
  if (!out.ok) out.error = "no samples";
  return out;
}

}  // namespace ardentix::test
