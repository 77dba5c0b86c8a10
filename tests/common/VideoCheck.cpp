#include "tests/common/VideoCheck.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/common/AudioCheck.h"

namespace ardentix::test {

namespace {

// Runs a program without a shell and returns what it wrote on its output.
std::string Capture(const std::vector<std::string>& args, int& status) {
  int fds[2];
  status = -1;
  if (::pipe(fds) != 0) return "";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int st = 0;
  if (pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st)) status = WEXITSTATUS(st);
  return out;
}

}  // namespace

bool HaveMediaInfo() {
  int status = -1;
  Capture({"mediainfo", "--Version"}, status);
  return status == 0;
}

std::string MediaInfoField(const std::string& path, const std::string& section, const std::string& field) {
  int status = -1;
  std::string out = Capture({"mediainfo", "--Inform=" + section + ";%" + field + "%", path}, status);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return status == 0 ? out : "";
}

// The Menu section's lines look like "00:01:02.500   : en:Title".
std::vector<MediaInfoChapter> MediaInfoChapters(const std::string& path) {
  int status = -1;
  const std::string out = Capture({"mediainfo", path}, status);
  std::vector<MediaInfoChapter> chapters;
  // A section title follows a blank line ("Menus : 3" in the others does not).
  size_t at = out.find("\n\nMenu");
  if (at != std::string::npos) ++at;
  while (at != std::string::npos) {
    const size_t begin = at + 1;
    at = out.find('\n', begin);
    const std::string line = out.substr(begin, at == std::string::npos ? std::string::npos : at - begin);
    if (line.empty()) break;  // only the first Menu section
    int h = 0, m = 0;
    double s = 0;
    const size_t colon = line.find(" : ");
    if (std::sscanf(line.c_str(), "%d:%d:%lf", &h, &m, &s) != 3 || colon == std::string::npos) continue;
    std::string title = line.substr(colon + 3);
    const size_t language = title.find(':');
    if (language != std::string::npos && language <= 3) title.erase(0, language + 1);
    chapters.push_back({h * 3600.0 + m * 60.0 + s, title});
  }
  return chapters;
}

namespace {

// Decodes the first stream of the type to its end, handing every frame with its
// presentation time in seconds (-1 when unknown) to on_frame; false with the
// reason when the stream cannot be decoded at all.
bool DecodeFirstStream(const std::string& path, AVMediaType type,
                       const std::function<void(const AVFrame*, double)>& on_frame, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  AVFormatContext* ic = nullptr;
  if (avformat.avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return fail("cannot open");
  struct Close {
    AVFormatContext*& ic;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    ~Close() {
      avcodec.avcodec_free_context(&dec);
      avcodec.av_packet_free(&pkt);
      avutil.av_frame_free(&frame);
      avformat.avformat_close_input(&ic);
    }
  } close{ic};
  if (avformat.avformat_find_stream_info(ic, nullptr) < 0) return fail("no stream info");
  int index = -1;
  for (unsigned i = 0; i < ic->nb_streams && index < 0; ++i)
    if (ic->streams[i]->codecpar->codec_type == type) index = static_cast<int>(i);
  if (index < 0) return fail(type == AVMEDIA_TYPE_VIDEO ? "no video stream" : "no audio stream");
  const AVStream* st = ic->streams[index];
  const AVCodec* codec = avcodec.avcodec_find_decoder(st->codecpar->codec_id);
  close.dec = avcodec.avcodec_alloc_context3(codec);
  close.pkt = avcodec.av_packet_alloc();
  close.frame = avutil.av_frame_alloc();
  if (!codec || !close.dec || !close.pkt || !close.frame) return fail("no decoder");
  avcodec.avcodec_parameters_to_context(close.dec, st->codecpar);
  close.dec->pkt_timebase = st->time_base;
  if (avcodec.avcodec_open2(close.dec, codec, nullptr) < 0) return fail("decoder does not open");
  auto receive = [&]() {
    while (avcodec.avcodec_receive_frame(close.dec, close.frame) >= 0) {
      const int64_t ts = close.frame->best_effort_timestamp;
      on_frame(close.frame, ts == AV_NOPTS_VALUE ? -1 : static_cast<double>(ts) * st->time_base.num / st->time_base.den);
      avutil.av_frame_unref(close.frame);
    }
  };
  while (avformat.av_read_frame(ic, close.pkt) >= 0) {
    if (close.pkt->stream_index == index) {
      avcodec.avcodec_send_packet(close.dec, close.pkt);
      receive();
    }
    avcodec.av_packet_unref(close.pkt);
  }
  avcodec.avcodec_send_packet(close.dec, nullptr);
  receive();
  return true;
}

template <typename T>
float At(const AVFrame* f, int i, int c, double full_scale) {
  const int channels = f->ch_layout.nb_channels;
  const bool planar = avutil.av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f->format));
  const T v = planar ? reinterpret_cast<const T*>(f->extended_data[c])[i]
                     : reinterpret_cast<const T*>(f->data[0])[i * channels + c];
  return static_cast<float>(v / full_scale);
}

// Sample i of channel c of an audio frame, in -1..1, for the formats decoders give.
float ChannelSample(const AVFrame* f, int i, int c) {
  switch (avutil.av_get_packed_sample_fmt(static_cast<AVSampleFormat>(f->format))) {
    case AV_SAMPLE_FMT_FLT: return At<float>(f, i, c, 1.0);
    case AV_SAMPLE_FMT_S16: return At<int16_t>(f, i, c, 32768.0);
    case AV_SAMPLE_FMT_S32: return At<int32_t>(f, i, c, 2147483648.0);
    default: return 0;
  }
}

// Whether the format is 8-bit planar YUV or grey, as DecodedPicture holds it.
bool PlanarEightBit(const AVPixFmtDescriptor* desc) {
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))) return false;
  for (int c = 0; c < desc->nb_components; ++c)
    if (desc->comp[c].depth != 8 || desc->comp[c].step != 1 || desc->comp[c].plane != c) return false;
  return true;
}

// A picture of any other format as 8-bit YUV 4:4:4 (video range), through the scaler.
AVFrame* AsPlanarEightBit(const AVFrame* f, AVFrame* out) {
  SwsContext* sws = swscale.sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                                           f->height, AV_PIX_FMT_YUV444P, SWS_POINT, nullptr, nullptr, nullptr);
  out->width = f->width;
  out->height = f->height;
  out->format = AV_PIX_FMT_YUV444P;
  const bool ok = sws && avutil.av_frame_get_buffer(out, 0) >= 0 &&
                  swscale.sws_scale(sws, f->data, f->linesize, 0, f->height, out->data, out->linesize) > 0;
  swscale.sws_freeContext(sws);
  return ok ? out : nullptr;
}

}  // namespace

std::vector<DecodedPicture> DecodePictures(const std::string& path, std::string* error) {
  std::vector<DecodedPicture> pictures;
  AVFrame* converted = avutil.av_frame_alloc();
  DecodeFirstStream(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame* decoded, double seconds) {
    const AVFrame* f = decoded;
    if (!PlanarEightBit(avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format)))) {
      avutil.av_frame_unref(converted);
      f = AsPlanarEightBit(decoded, converted);
      if (!f) return;
    }
    const AVPixFmtDescriptor* desc = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    DecodedPicture p;
    p.width = f->width;
    p.height = f->height;
    p.chroma_width = desc ? -((-f->width) >> desc->log2_chroma_w) : 0;
    p.chroma_height = desc ? -((-f->height) >> desc->log2_chroma_h) : 0;
    p.seconds = seconds;
    if (decoded->sample_aspect_ratio.num > 0 && decoded->sample_aspect_ratio.den > 0)
      p.pixel_aspect = static_cast<double>(decoded->sample_aspect_ratio.num) / decoded->sample_aspect_ratio.den;
    auto copy = [&](std::vector<uint8_t>& out, int plane, int w, int h) {
      if (!f->data[plane]) return;
      for (int yy = 0; yy < h; ++yy)
        out.insert(out.end(), f->data[plane] + static_cast<ptrdiff_t>(yy) * f->linesize[plane],
                   f->data[plane] + static_cast<ptrdiff_t>(yy) * f->linesize[plane] + w);
    };
    copy(p.y, 0, p.width, p.height);
    copy(p.u, 1, p.chroma_width, p.chroma_height);
    copy(p.v, 2, p.chroma_width, p.chroma_height);
    pictures.push_back(std::move(p));
  }, error);
  avutil.av_frame_free(&converted);
  return pictures;
}

int ReadPictureNumber(const DecodedPicture& p) {
  if (p.width < 16 || p.height < 4) return -1;
  int number = 0;
  for (int bit = 0; bit < 8; ++bit) {
    // The middle of the block: a quarter of its width and the middle eighth of the picture.
    const int x0 = (bit * 4 + 1) * p.width / 32 + 1, x1 = (bit * 4 + 3) * p.width / 32 - 1;
    const int y0 = p.height * 7 / 16, y1 = p.height * 9 / 16;
    long sum = 0, count = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x, ++count) sum += p.Y(x, y);
    if (count == 0) return -1;
    const long mean = sum / count;
    if (mean > 80 && mean < 170) return -1;
    number = number * 2 + (mean >= 170);
  }
  return number;
}

double PictureDifference(const DecodedPicture& a, const DecodedPicture& b) {
  constexpr int kColumns = 8, kRows = 6;
  const auto cell = [](const DecodedPicture& p, int cx, int cy) {
    const int x0 = cx * p.width / kColumns, x1 = (cx + 1) * p.width / kColumns;
    const int y0 = cy * p.height / kRows, y1 = (cy + 1) * p.height / kRows;
    double sum = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sum += p.Y(x, y);
    return (x1 > x0 && y1 > y0) ? sum / ((x1 - x0) * (y1 - y0)) : 0.0;
  };
  if (a.y.empty() || b.y.empty()) return 255;
  double total = 0;
  for (int cy = 0; cy < kRows; ++cy)
    for (int cx = 0; cx < kColumns; ++cx) total += std::fabs(cell(a, cx, cy) - cell(b, cx, cy));
  return total / (kColumns * kRows);
}

DecodedSound DecodeSound(const std::string& path, std::string* error) {
  DecodedSound sound;
  DecodeFirstStream(path, AVMEDIA_TYPE_AUDIO, [&](const AVFrame* f, double seconds) {
    if (sound.rate == 0) {
      sound.rate = f->sample_rate;
      sound.start = seconds < 0 ? 0 : seconds;
    }
    for (int i = 0; i < f->nb_samples; ++i) sound.samples.push_back(ChannelSample(f, i, 0));
  }, error);
  return sound;
}

std::vector<double> TickTimes(const DecodedSound& sound, double level) {
  std::vector<double> ticks;
  if (sound.rate <= 0) return ticks;
  const size_t quiet = static_cast<size_t>(sound.rate) / 20;
  size_t below = quiet;
  for (size_t i = 0; i < sound.samples.size(); ++i) {
    if (std::fabs(sound.samples[i]) < level) {
      ++below;
      continue;
    }
    if (below >= quiet) ticks.push_back(sound.start + static_cast<double>(i) / sound.rate);
    below = 0;
  }
  return ticks;
}

DecodedAudio DecodeWithLibraries(const std::string& path) {
  DecodedAudio out;
  const bool decoded = DecodeFirstStream(
      path, AVMEDIA_TYPE_AUDIO,
      [&](const AVFrame* f, double) {
        out.rate = f->sample_rate;
        out.channels = f->ch_layout.nb_channels;
        for (int i = 0; i < f->nb_samples; ++i)
          for (int c = 0; c < out.channels; ++c) out.samples.push_back(ChannelSample(f, i, c));
        out.frames += static_cast<size_t>(f->nb_samples);
      },
      &out.error);
  out.ok = decoded && out.frames > 0;
  if (decoded && !out.ok) out.error = "no samples";
  return out;
}

}  // namespace ardentix::test
