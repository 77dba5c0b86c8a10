// ardentix-bench-video [--seconds S] [--repeat R] [--long] [--no-gstreamer]
//
// Video conversion speed and memory, from a generated S-second (default 60)
// 720x576 25 fps RealVideo 2 + AC-3 RealMedia file:
//  - `ardentix-convert --to pal-dvd` against the floor: the same decoders and
//    the same encoder settings driven directly through the libraries (read,
//    decode, resample, encode; no muxing), in a child process of this program.
//    Target: processor time at most 1.05 x the floor.
//  - `ardentix-convert --to mp4` against Debian's GStreamer (gst-launch-1.0
//    with the libav plugin's RealVideo and AC-3 decoders, x264enc at the same
//    preset, constant quality and thread count, and the libav AAC encoder).
//    Target: processor and wall time at most GStreamer's. bench/video/deps
//    installs GStreamer.
//  - --long: private memory (anonymous pages, the peak of the child's
//    /proc/PID/smaps_rollup) of --to pal-dvd for a 1-minute and a 10-minute
//    input. Target: within 4 MiB.
// Every program runs as a child; its processor time is the child's user and
// system time, its wall time measured here. The best of R runs counts.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "binding/FFmpegLoader.h"

namespace {

namespace fs = std::filesystem;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TRun {
    bool ok = false;
    double wall = 0;        // seconds
    double cpu = 0;         // seconds, user + system of the child and its threads
    long anon_peak_kib = 0;  // the largest "Anonymous:" seen in the child's smaps_rollup
    int64_t video_bytes = -1;  // the floor's coded video, to check its settings are ours
};

long AnonymousKib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Anonymous:", 0) == 0) return std::atol(line.c_str() + 10);
    return 0;
}

// Waits for the child, sampling its private memory every 50 ms.
TRun Collect(pid_t pid, double start, int result_fd) {
    TRun r;
    int status = 0;
    rusage usage{};
    while (true) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0) return r;
        r.anon_peak_kib = std::max(r.anon_peak_kib, AnonymousKib(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    r.wall = Now() - start;
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (result_fd >= 0) {
        int64_t bytes = -1;
        if (read(result_fd, &bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes)) r.video_bytes = bytes;
        close(result_fd);
    }
    return r;
}

// Runs a program with its output thrown away.
TRun RunProgram(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::getenv("ARDENTIX_BENCH_VERBOSE")) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return Collect(pid, start, -1);
}

// Runs body in a child; body answers the coded video bytes (< 0: failed).
TRun RunChild(const std::function<int64_t()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::fflush(stdout);
    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int64_t bytes = body();
        (void)!write(fds[1], &bytes, sizeof bytes);
        _exit(bytes < 0 ? 1 : 0);
    }
    close(fds[1]);
    return Collect(pid, start, fds[0]);
}

// ---- the floor: decode and encode through the libraries, nothing else ----

struct TCodec {
    AVCodecContext* ctx = nullptr;
    ~TCodec() { avcodec.avcodec_free_context(&ctx); }
};

bool OpenDecoder(TCodec& c, const AVStream* st, int threads) {
    const AVCodec* codec = avcodec.avcodec_find_decoder(st->codecpar->codec_id);
    c.ctx = avcodec.avcodec_alloc_context3(nullptr);
    if (!codec || !c.ctx || avcodec.avcodec_parameters_to_context(c.ctx, st->codecpar) < 0) return false;
    c.ctx->pkt_timebase = st->time_base;
    c.ctx->thread_count = threads;
    return avcodec.avcodec_open2(c.ctx, codec, nullptr) >= 0;
}

// Encodes frame (none: drain) and counts the bytes of what comes out.
bool Encode(AVCodecContext* enc, const AVFrame* frame, AVPacket* pkt, int64_t& bytes) {
    if (avcodec.avcodec_send_frame(enc, frame) < 0) return false;
    int r;
    while ((r = avcodec.avcodec_receive_packet(enc, pkt)) >= 0) {
        bytes += pkt->size;
        avcodec.av_packet_unref(pkt);
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF;
}

// The pal-dvd conversion's own work: the RealVideo and AC-3 decoders, the
// DVD target's MPEG-2 and AC-3 encoder settings (threads as the converter
// sets them: the libraries' own count for pictures, one for sound), the
// resampler with the converter's settings. Packets are counted, not written.
int64_t Floor(const std::string& src) {
    if (!FFmpegLoader().LoadLibs(DefaultLibs)) return -1;
    avutil.av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ic = nullptr;
    if (avformat.avformat_open_input(&ic, src.c_str(), nullptr, nullptr) < 0) return -1;
    if (avformat.avformat_find_stream_info(ic, nullptr) < 0) return -1;
    int vi = -1, ai = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVMediaType type = ic->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && vi < 0) vi = static_cast<int>(i);
        if (type == AVMEDIA_TYPE_AUDIO && ai < 0) ai = static_cast<int>(i);
    }
    if (vi < 0 || ai < 0) return -1;
    TCodec vdec, adec, venc, aenc;
    if (!OpenDecoder(vdec, ic->streams[vi], 0) || !OpenDecoder(adec, ic->streams[ai], 1)) return -1;

    const AVCodec* mpeg2 = avcodec.avcodec_find_encoder_by_name("mpeg2video");
    venc.ctx = avcodec.avcodec_alloc_context3(mpeg2);
    AVCodecContext* v = venc.ctx;
    v->width = 720;
    v->height = 576;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = AVRational{1, 25};
    v->framerate = AVRational{25, 1};
    v->sample_aspect_ratio = AVRational{64, 45};
    v->gop_size = 15;
    v->bit_rate = 6000000;
    v->rc_max_rate = 9000000;
    v->rc_min_rate = 0;
    v->rc_buffer_size = 1835008;
    v->thread_count = 0;
    if (avcodec.avcodec_open2(v, mpeg2, nullptr) < 0) return -1;

    const AVCodec* ac3 = avcodec.avcodec_find_encoder_by_name("ac3");
    aenc.ctx = avcodec.avcodec_alloc_context3(ac3);
    AVCodecContext* a = aenc.ctx;
    a->sample_rate = 48000;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    a->bit_rate = 448000;
    a->time_base = AVRational{1, 48000};
    avutil.av_channel_layout_default(&a->ch_layout, 2);
    a->thread_count = 1;
    if (avcodec.avcodec_open2(a, ac3, nullptr) < 0) return -1;

    SwrContext* swr = nullptr;
    if (swresample.swr_alloc_set_opts2(&swr, &a->ch_layout, a->sample_fmt, a->sample_rate, &adec.ctx->ch_layout,
                                       adec.ctx->sample_fmt, adec.ctx->sample_rate, 0, nullptr) < 0)
        return -1;
    avutil.av_opt_set_int(swr, "filter_size", 16, 0);
    avutil.av_opt_set_int(swr, "phase_shift", 10, 0);
    avutil.av_opt_set_int(swr, "linear_interp", 0, 0);
    avutil.av_opt_set(swr, "cutoff", "0.8", 0);
    if (swresample.swr_init(swr) < 0) return -1;
    AVAudioFifo* fifo = avutil.av_audio_fifo_alloc(a->sample_fmt, 2, a->frame_size * 4);

    AVPacket* pkt = avcodec.av_packet_alloc();
    AVPacket* out = avcodec.av_packet_alloc();
    AVFrame* frame = avutil.av_frame_alloc();
    AVFrame* resampled = avutil.av_frame_alloc();
    AVFrame* block = avutil.av_frame_alloc();
    block->format = a->sample_fmt;
    block->nb_samples = a->frame_size;
    block->sample_rate = a->sample_rate;
    avutil.av_channel_layout_copy(&block->ch_layout, &a->ch_layout);
    if (avutil.av_frame_get_buffer(block, 0) < 0) return -1;
    int64_t video_bytes = 0, audio_bytes = 0, pictures = 0, samples = 0;

    auto encode_audio = [&](bool last) {
        while (avutil.av_audio_fifo_size(fifo) >= a->frame_size || (last && avutil.av_audio_fifo_size(fifo) > 0)) {
            if (avutil.av_frame_make_writable(block) < 0) return false;
            block->nb_samples = avutil.av_audio_fifo_read(fifo, reinterpret_cast<void**>(block->data), a->frame_size);
            block->pts = samples;
            samples += block->nb_samples;
            if (!Encode(a, block, out, audio_bytes)) return false;
        }
        return true;
    };
    auto drain = [&](AVCodecContext* dec) {
        int r;
        while ((r = avcodec.avcodec_receive_frame(dec, frame)) >= 0) {
            if (dec == vdec.ctx) {
                frame->pts = pictures++;
                frame->pict_type = AV_PICTURE_TYPE_NONE;
                if (!Encode(v, frame, out, video_bytes)) return false;
            } else {
                const int cap = swresample.swr_get_out_samples(swr, frame->nb_samples) + 16;
                if (cap > resampled->nb_samples) {
                    avutil.av_frame_unref(resampled);
                    resampled->format = a->sample_fmt;
                    resampled->nb_samples = cap;
                    avutil.av_channel_layout_copy(&resampled->ch_layout, &a->ch_layout);
                    if (avutil.av_frame_get_buffer(resampled, 0) < 0) return false;
                }
                const int n = swresample.swr_convert(swr, resampled->data, cap,
                                                     const_cast<const uint8_t**>(frame->extended_data),
                                                     frame->nb_samples);
                if (n < 0) return false;
                avutil.av_audio_fifo_write(fifo, reinterpret_cast<void**>(resampled->data), n);
                if (!encode_audio(false)) return false;
            }
            avutil.av_frame_unref(frame);
        }
        return r == AVERROR(EAGAIN) || r == AVERROR_EOF;
    };
    while (avformat.av_read_frame(ic, pkt) >= 0) {
        AVCodecContext* dec = pkt->stream_index == vi ? vdec.ctx : pkt->stream_index == ai ? adec.ctx : nullptr;
        if (dec) {
            avcodec.avcodec_send_packet(dec, pkt);
            if (!drain(dec)) return -1;
        }
        avcodec.av_packet_unref(pkt);
    }
    for (AVCodecContext* dec : {vdec.ctx, adec.ctx}) {
        avcodec.avcodec_send_packet(dec, nullptr);
        if (!drain(dec)) return -1;
    }
    if (!encode_audio(true) || !Encode(a, nullptr, out, audio_bytes) || !Encode(v, nullptr, out, video_bytes))
        return -1;
    return video_bytes;
}

// ---- the programs compared ----

std::string Convert() {
#ifdef ARDENTIX_CONVERT_BIN
    return ARDENTIX_CONVERT_BIN;
#else
    return "ardentix-convert";
#endif
}

TRun Ours(const std::string& kind, const std::string& src, const fs::path& out_dir) {
    fs::remove_all(out_dir);
    fs::create_directories(out_dir);
    std::vector<std::string> args = {Convert(), "--to", kind, "-o", out_dir.string(), "-j", "1", "--quiet"};
    if (kind == "mp4") args.insert(args.end(), {"-c", "2", "-b", "128", "-r", "44100"});
    args.push_back(src);
    return RunProgram(args);
}

// The same job as --to mp4: x264 at its medium preset with constant quality
// 23 and its own thread count, AAC at 128 kbit/s 44100 Hz stereo; unbounded
// queues on both branches, or the pipeline stalls.
TRun GStreamer(const std::string& src, const fs::path& dst) {
    const std::string queue = "queue max-size-buffers=0 max-size-time=0 max-size-bytes=0";
    const std::string pipeline =
        "filesrc location=" + src + " ! rmdemux name=d mp4mux faststart=true name=m ! filesink location=" +
        dst.string() + " d. ! " + queue + " ! avdec_rv20 ! videoconvert ! video/x-raw,format=I420 ! " +
        "x264enc speed-preset=medium pass=qual quantizer=23 threads=0 ! " + queue + " ! m. d. ! " + queue +
        " ! avdec_ac3 ! audioconvert ! audioresample ! audio/x-raw,rate=44100,channels=2 ! " +
        "avenc_aac bitrate=128000 ! " + queue + " ! m.";
    std::vector<std::string> args = {"gst-launch-1.0", "-q"};
    size_t start = 0;
    while (start < pipeline.size()) {
        size_t end = pipeline.find(' ', start);
        if (end == std::string::npos) end = pipeline.size();
        if (end > start) args.push_back(pipeline.substr(start, end - start));
        start = end + 1;
    }
    return RunProgram(args);
}

// The bytes of the coded pictures in a file, read back through the libraries.
int64_t VideoBytes(const std::string& path) {
    if (!FFmpegLoader().LoadLibs(DefaultLibs)) return -1;
    avutil.av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ic = nullptr;
    if (avformat.avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return -1;
    int64_t bytes = -1;
    if (avformat.avformat_find_stream_info(ic, nullptr) >= 0) {
        bytes = 0;
        AVPacket* pkt = avcodec.av_packet_alloc();
        while (avformat.av_read_frame(ic, pkt) >= 0) {
            if (ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) bytes += pkt->size;
            avcodec.av_packet_unref(pkt);
        }
        avcodec.av_packet_free(&pkt);
    }
    avformat.avformat_close_input(&ic);
    return bytes;
}

bool MakeInput(const std::string& path, int seconds) {
    return bench::MakeFixture({"rm-video", path, "--video", "rv20", "--audio", "ac3", "--fps", "25", "--size", "720x576",
                    "--seconds", std::to_string(seconds)});
}

void Best(TRun& into, const TRun& r) {
    if (!r.ok) return;
    if (!into.ok) {
        into = r;
        return;
    }
    into.wall = std::min(into.wall, r.wall);
    into.cpu = std::min(into.cpu, r.cpu);
    into.anon_peak_kib = std::max(into.anon_peak_kib, r.anon_peak_kib);
}

void Print(const char* name, const TRun& r) {
    if (!r.ok) {
        std::printf("%-34s failed\n", name);
        return;
    }
    std::printf("%-34s %8.2f s %8.2f s %8.1f MiB\n", name, r.cpu, r.wall, r.anon_peak_kib / 1024.0);
}

std::string Uptime() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int repeat = 1;
    bool long_run = false;
    bool gstreamer = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--long") == 0)
            long_run = true;
        else if (std::strcmp(argv[i], "--no-gstreamer") == 0)
            gstreamer = false;
    }
    const fs::path dir = fs::temp_directory_path() / ("ardentix-bench-video-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // The converter reads the window's settings: a home of its own keeps them at their defaults.
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    const std::string src = (dir / "in.rm").string();
    std::printf("load average before: %s\n", Uptime().c_str());
    std::printf("generating %d s of 720x576 25 fps RealVideo 2 + AC-3...\n", seconds);
    if (!MakeInput(src, seconds)) {
        std::fprintf(stderr, "the fixture tool failed\n");
        fs::remove_all(dir);
        return 1;
    }

    TRun dvd, floor, mp4, gst;
    for (int i = 0; i < repeat; ++i) {
        Best(floor, RunChild([&] { return Floor(src); }));
        Best(dvd, Ours("pal-dvd", src, dir / "dvd"));
        if (gstreamer) {
            Best(mp4, Ours("mp4", src, dir / "mp4"));
            Best(gst, GStreamer(src, dir / "gst.mp4"));
        }
    }
    std::printf("input: %d s, %.1f MiB; load average after: %s\n", seconds, fs::file_size(src) / 1048576.0,
                Uptime().c_str());
    std::printf("%-34s %10s %10s %12s\n", "", "processor", "wall", "private");
    Print("floor (decode + encode, pal-dvd)", floor);
    Print("ardentix --to pal-dvd", dvd);
    if (floor.ok && dvd.ok)
        std::printf("ratio to the floor: %.3f processor (target <= 1.05)\n", dvd.cpu / floor.cpu);
    // Equal counts say that the floor used the converter's encoder settings.
    if (floor.ok && dvd.ok)
        std::printf("coded video: floor %lld bytes, ardentix %lld bytes\n", static_cast<long long>(floor.video_bytes),
                    static_cast<long long>(RunChild([&] { return VideoBytes((dir / "dvd" / "in.mpg").string()); })
                                               .video_bytes));
    std::printf("%-34s %8.2f s %8.2f s  (mpeg2enc + mplex, as measured when filed)\n", "mjpegtools (GStreamer)",
                121.0, 92.6);
    if (gstreamer) {
        Print("ardentix --to mp4", mp4);
        Print("gst-launch-1.0 (x264enc, avenc_aac)", gst);
        if (mp4.ok && gst.ok)
            std::printf("ratio to GStreamer: %.3f processor, %.3f wall (target <= 1)\n", mp4.cpu / gst.cpu,
                        mp4.wall / gst.wall);
    }

    if (long_run) {
        const std::string one = (dir / "one.rm").string();
        const std::string ten = (dir / "ten.rm").string();
        if (MakeInput(one, 60) && MakeInput(ten, 600)) {
            const TRun a = Ours("pal-dvd", one, dir / "one");
            const TRun b = Ours("pal-dvd", ten, dir / "ten");
            Print("ardentix --to pal-dvd, 1 min", a);
            Print("ardentix --to pal-dvd, 10 min", b);
            if (a.ok && b.ok)
                std::printf("private memory, 10 min - 1 min: %.1f MiB (target within 4)\n",
                            (b.anon_peak_kib - a.anon_peak_kib) / 1024.0);
        } else {
            std::fprintf(stderr, "the fixture tool failed on the long inputs\n");
        }
    }
    fs::remove_all(dir);
    return 0;
}
