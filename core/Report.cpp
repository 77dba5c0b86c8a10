// The progress report: the progress record for the progress callback, or the
// one-line text report for the log; and the byte statistics at the end.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "core/FFmpeg.h"
#include "core/FormatText.h"

namespace {

double Q(AVRational r) { return r.den ? static_cast<double>(r.num) / r.den : 0.0; }

double Psnr(double d) { return -10.0 * std::log10(d); }

// The report line, built by successive appends that never overrun it.
class TReportText {
public:
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (len_ >= sizeof(buf_) - 1) return;
        va_list args;
        va_start(args, format);
        const int n = myutil.vsnprintf(buf_ + len_, sizeof(buf_) - len_, format, args);
        va_end(args);
        if (n > 0) len_ = std::min(sizeof(buf_) - 1, len_ + static_cast<size_t>(n));
    }
    const char* Text() const { return buf_; }

private:
    char buf_[1024] = {};
    size_t len_ = 0;
};

// The figures of the first video stream in the line, for the progress callback.
struct TVideoFigures {
    int frame_number = -1;
    int fps = -1;
    float quality = -1.0f;
};

// PSNR per plane and over all; at the last report the encoder's totals.
void AppendPsnr(TReportText& text, const AVCodecContext& enc, const TOutputStreamState& ost, bool last,
                int frame_number) {
    double error_sum = 0;
    double scale_sum = 0;
    const char planes[3] = {'Y', 'U', 'V'};
    text.Append("PSNR=");
    for (int j = 0; j < 3; ++j) {
        const double error = last ? static_cast<double>(enc.error[j]) : ost.frame_error[j];
        double scale = static_cast<double>(enc.width) * enc.height * 255.0 * 255.0;
        if (last) scale *= frame_number;
        if (j > 0) scale /= 4;
        error_sum += error;
        scale_sum += scale;
        text.Append("%c:%2.2f ", planes[j], Psnr(error / scale));
    }
    text.Append("*:%2.2f ", Psnr(error_sum / scale_sum));
}

// The quantiser histogram as one hex digit per quantiser (log2 of its count).
void AppendQpHistogram(TReportText& text, std::array<int, 52>& histogram, float quality) {
    const int qp = static_cast<int>(std::nearbyint(quality));
    if (qp >= 0 && qp < static_cast<int>(histogram.size())) histogram[qp] += 1;
    for (int j = 0; j < 32; ++j) text.Append("%X", static_cast<int>(std::nearbyint(std::log2(histogram[j] + 1.0))));
}

}  // namespace

void TCustomFFmpeg::PrintReport(AVFormatContext** outputs, int output_count, bool last) {
    int64_t total_size = 0;
    if (output_count > 0 && outputs[0]->pb) {
        total_size = avformat.avio_size(outputs[0]->pb);
        if (total_size < 0) total_size = run->first_output_pos;
    }

    TReportText text;
    TVideoFigures video;
    double ti = 1e10;  // seconds: the least output position
    bool vid = false;
    for (const auto& ost : run->ost_table) {
        const bool is_video = ost->stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        const float q = ost->stream_copy ? -1.0f : ost->quality / 118.0f;
        if (vid && is_video) text.Append("q=%2.1f ", q);
        if (!vid && is_video) {
            // No line until the first picture is out.
            if (ost->frame_number < 1) return;
            const float t = static_cast<float>(avutil.av_gettime() - run->timer_start) / 1000000.0f;
            video.frame_number = ost->frame_number;
            video.fps = t > 1 ? static_cast<int>(std::trunc(video.frame_number / t + 0.5)) : 0;
            video.quality = q;
            text.Append("frame=%5d fps=%3d q=%3.1f ", video.frame_number, video.fps, video.quality);
            if (last) text.Append("L");
            if (qp_hist_enabled) AppendQpHistogram(text, run->qp_histogram, video.quality);
            if (ost->enc && (ost->enc->flags & AV_CODEC_FLAG_PSNR))
                AppendPsnr(text, *ost->enc, *ost, last, video.frame_number);
            vid = true;
        }
        if (ost->cur_pts != AV_NOPTS_VALUE) {
            const double pts = static_cast<double>(ost->cur_pts) * Q(ost->stream->time_base);
            if (pts < ti && pts > 0) ti = pts;
        }
    }
    if (ti < 0.01) ti = 0.01;

    if (OnProgress || verbosity > 0 || last) {
        const double bitrate = static_cast<double>(total_size) * 8 / ti / 1000;
        text.Append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(total_size) / 1024, ti,
                    bitrate);
        if (verbosity > 1) text.Append(" dup=%d drop=%d", run->dup_frames, run->drop_frames);
        if (OnProgress) {
            // Before any output time is known there is no position to hand over.
            const double ms = ti * 1000;
            const int current = ms < static_cast<double>(INT_MAX) ? static_cast<int>(std::trunc(ms)) : 0;
            OnProgress(this, video.frame_number, video.fps, current, video.quality, static_cast<float>(bitrate),
                       total_size, expected_duration_ms);
        } else if (verbosity >= 0 && OnLog) {
            OnLog(this, 1, text.Text());
        }
    }
    if (last && verbosity >= 0 && OnLog) LogByteStatistics(total_size);
}

void TCustomFFmpeg::LogByteStatistics(int64_t total_size) {
    const double raw = static_cast<double>(run->video_size + run->audio_size + run->extra_size);
    const std::string head = FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead ",
                                        run->video_size / 1024.0, run->audio_size / 1024.0, run->extra_size / 1024.0);
    // Nothing encoded: there is no overhead to give as a share.
    const std::string overhead =
        raw > 0 ? FormatText("%.2f%%", 100.0 * (static_cast<double>(total_size) - raw) / raw) : "unknown";
    OnLog(this, 1, head + overhead + "\r\n");
}
