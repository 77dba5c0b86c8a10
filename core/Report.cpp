// The progress report: the progress record for the progress callback, or the
// one-line text report for the log; and the byte statistics at the end.
#include <algorithm>
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

}  // namespace

void TCustomFFmpeg::PrintReport(AVFormatContext** outputs, int output_count, bool last) {
    int frame_number = -1;
    int fps = -1;
    float quality = -1.0f;
    double ti = 1e10;

    int64_t total_size = 0;
    if (output_count > 0 && outputs[0]->pb) {
        total_size = avformat.avio_size(outputs[0]->pb);
        if (total_size < 0) total_size = first_output_pos;
    }

    TReportText text;
    bool vid = false;
    for (const auto& ost : ost_table) {
        const AVCodecContext* enc = ost->enc;
        const bool video = ost->stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        const float q = ost->stream_copy ? -1.0f : ost->quality / 118.0f;
        if (vid && video) text.Append("q=%2.1f ", q);
        if (!vid && video) {
            const float t = static_cast<float>(avutil.av_gettime() - timer_start) / 1000000.0f;
            if (ost->frame_number < 1) return;
            frame_number = ost->frame_number;
            fps = t > 1 ? static_cast<int>(std::trunc(frame_number / t + 0.5)) : 0;
            quality = q;
            text.Append("frame=%5d fps=%3d q=%3.1f ", frame_number, fps, quality);
            if (last) text.Append("L");
            if (qp_hist_enabled) {
                const int qp = static_cast<int>(std::nearbyint(quality));
                if (qp >= 0 && qp < static_cast<int>(qp_histogram.size())) qp_histogram[qp] += 1;
                for (int j = 0; j < 32; ++j)
                    text.Append("%X", static_cast<int>(std::nearbyint(std::log2(qp_histogram[j] + 1.0))));
            }
            if (enc && (enc->flags & AV_CODEC_FLAG_PSNR)) {
                double error_sum = 0;
                double scale_sum = 0;
                const char planes[3] = {'Y', 'U', 'V'};
                text.Append("PSNR=");
                for (int j = 0; j < 3; ++j) {
                    const double error = last ? static_cast<double>(enc->error[j]) : ost->frame_error[j];
                    double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
                    if (last) scale *= frame_number;
                    if (j > 0) scale /= 4;
                    error_sum += error;
                    scale_sum += scale;
                    text.Append("%c:%2.2f ", planes[j], Psnr(error / scale));
                }
                text.Append("*:%2.2f ", Psnr(error_sum / scale_sum));
            }
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
        if (verbosity > 1) text.Append(" dup=%d drop=%d", dup_frames, drop_frames);
        if (OnProgress) {
            // Before any output time is known there is no position to hand over.
            const double ms = ti * 1000;
            const int current = ms < static_cast<double>(INT_MAX) ? static_cast<int>(std::trunc(ms)) : 0;
            OnProgress(this, frame_number, fps, current, quality, static_cast<float>(bitrate), total_size,
                       expected_duration_ms);
        } else if (verbosity >= 0 && OnLog) {
            OnLog(this, 1, text.Text());
        }
    }

    if (last && verbosity >= 0 && OnLog) {
        const double raw = static_cast<double>(video_size + audio_size + extra_size);
        const std::string head = FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead ",
                                            video_size / 1024.0, audio_size / 1024.0, extra_size / 1024.0);
        // Nothing encoded: there is no overhead to give as a share.
        const std::string overhead =
            raw > 0 ? FormatText("%.2f%%", 100.0 * (static_cast<double>(total_size) - raw) / raw) : "unknown";
        OnLog(this, 1, head + overhead + "\r\n");
    }
}
