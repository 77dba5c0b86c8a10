#include "tests/common/SubtitleCheck.h"

#include "binding/FFmpegLoader.h"

namespace ardentix::test {

SubtitleStream ReadSubtitles(const std::string& path, int which, const char* format) {
  SubtitleStream out;
  AVFormatContext* ic = nullptr;
  const AVInputFormat* forced = format ? avformat.av_find_input_format(format) : nullptr;
  if (avformat.avformat_open_input(&ic, path.c_str(), forced, nullptr) < 0) {
    out.error = "cannot open";
    return out;
  }
  struct Close {
    AVFormatContext*& ic;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = nullptr;
    ~Close() {
      avcodec.avcodec_free_context(&dec);
      avcodec.av_packet_free(&pkt);
      avformat.avformat_close_input(&ic);
    }
  } close{ic};
  if (avformat.avformat_find_stream_info(ic, nullptr) < 0) out.error = "no stream info";
  int index = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    if (ic->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
    if (out.streams++ == which) index = static_cast<int>(i);
  }
  if (index < 0) {
    out.error = "no such subtitle stream";
    return out;
  }
  const AVStream* st = ic->streams[index];
  out.codec = avcodec.avcodec_get_name(st->codecpar->codec_id);
  out.tb_num = st->time_base.num;
  out.tb_den = st->time_base.den;
  const AVCodec* codec = avcodec.avcodec_find_decoder(st->codecpar->codec_id);
  close.dec = avcodec.avcodec_alloc_context3(codec);
  close.pkt = avcodec.av_packet_alloc();
  if (!codec || !close.dec || !close.pkt) {
    out.error = "no decoder";
    return out;
  }
  avcodec.avcodec_parameters_to_context(close.dec, st->codecpar);
  close.dec->pkt_timebase = st->time_base;
  if (avcodec.avcodec_open2(close.dec, codec, nullptr) < 0) {
    out.error = "decoder does not open";
    return out;
  }
  while (avformat.av_read_frame(ic, close.pkt) >= 0) {
    if (close.pkt->stream_index == index) {
      SubtitlePacket p;
      p.pts = close.pkt->pts;
      p.duration = close.pkt->duration;
      if (p.pts != AV_NOPTS_VALUE) p.seconds = static_cast<double>(p.pts) * st->time_base.num / st->time_base.den;
      AVSubtitle sub{};
      int got = 0;
      if (avcodec.avcodec_decode_subtitle2(close.dec, &sub, &got, close.pkt) >= 0 && got) {
        p.rects = static_cast<int>(sub.num_rects);
        for (unsigned r = 0; r < sub.num_rects; ++r) {
          const AVSubtitleRect* rect = sub.rects[r];
          if (rect->type == SUBTITLE_BITMAP && p.width == 0) {
            p.width = rect->w;
            p.height = rect->h;
          }
          if (rect->ass) p.text += (p.text.empty() ? "" : "\n") + std::string(rect->ass);
        }
        avcodec.avsubtitle_free(&sub);
      }
      out.packets.push_back(p);
    }
    avcodec.av_packet_unref(close.pkt);
  }
  return out;
}

}  // namespace ardentix::test
