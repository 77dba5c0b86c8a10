// Frame hooks and preview: the hook action of each picture (before-hook
// callback or hook ranges), the custom hook on a 24-bit bitmap, the plug-in
// hooks, and the preview step for pictures the encoder takes.
#include <exception>
#include <filesystem>

#include "binding/Exception.h"
#include "binding/LocalName.h"
#include "core/FFmpeg.h"

std::mutex PreviewLock;

namespace {

// A preview window is named after the file whose pictures it shows.
std::string FileNameOf(const AVFormatContext* ic) {
    if (!ic || !ic->url) return {};
    return std::filesystem::path(LocalFileName(ic->url)).filename().string();
}

constexpr uint8_t kPreviewWindow = 1;
constexpr uint8_t kPreviewBitmap = 2;
constexpr int kRgbScaling = SWS_BICUBIC;

// The text of the exception being handled; a handler may throw anything.
std::string ExceptionText() {
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace

void TCustomFFmpeg::DecideHookAction(int64_t pts) {
    if (OnCustomHook || !hooks_in_use) return;
    if (OnBeforeHook) {
        try {
            OnBeforeHook(this, run->hook_action, pts);
        } catch (...) {
            Log(0, "Error occurs OnBeforeHook: " + ExceptionText());
            run->hook_action = haStop;
        }
        if (run->hook_action == haStop) hooks_in_use = false;
        return;
    }
    if (hook_ranges.empty()) return;
    run->hook_action = haIgnore;
    // The ranges are sorted by their end: those behind pts are never looked at again.
    for (size_t i = static_cast<size_t>(run->hook_range_pos); i < hook_ranges.size(); ++i) {
        const THookRange& range = hook_ranges[i];
        if (range.start <= pts && pts <= range.end) {
            run->hook_range_pos = static_cast<int>(i);
            run->hook_action = haContinue;
            return;
        }
        if (i + 1 == hook_ranges.size() && range.end < pts) {
            run->hook_action = haStop;
            hooks_in_use = false;
        }
    }
}

void TCustomFFmpeg::RunPluginHooks(AVFrame* picture, int64_t pts) {
    ArdxHookPicture planes{};
    for (int i = 0; i < 4; ++i) {
        planes.data[i] = picture->data[i];
        planes.linesize[i] = picture->linesize[i];
    }
    frame_hooks.Process(planes, picture->format, picture->width, picture->height, pts);
}

void TCustomFFmpeg::RunCustomHook(AVFrame* picture, int64_t pts) {
    bool stop = !ToBitmap(run->custom_rgb, picture);
    if (!stop) {
        bool update = true;
        const TCoreCustomHookEvent handler = OnCustomHook;
        {
            std::lock_guard<TBitmap> canvas(run->custom_rgb.bitmap);
            try {
                handler(this, &run->custom_rgb.bitmap, run->hook_frame_count, pts, update, stop);
            } catch (...) {
                Log(0, "Error occurs OnCustomHook: " + ExceptionText());
                update = false;
            }
        }
        if (update && !FromBitmap(run->custom_rgb, picture)) stop = true;
    }
    if (!stop) return;
    // Detached for the rest of the transcode.
    OnCustomHook = nullptr;
    run->hook_action = haStop;
    hooks_in_use = false;
}

bool TCustomFFmpeg::ToBitmap(TRgbContext& rgb, const AVFrame* picture) {
    const int w = picture->width, h = picture->height;
    SwsContext* sws = swscale.sws_getCachedContext(rgb.to_rgb.release(), w, h,
                                                   static_cast<AVPixelFormat>(picture->format), w, h,
                                                   AV_PIX_FMT_BGR24, kRgbScaling, nullptr, nullptr, nullptr);
    rgb.to_rgb.reset(sws);
    if (!sws || !rgb.bitmap.SetSize(w, h)) {
        Log(0, "Cannot initialize the toRGB conversion context");
        return false;
    }
    uint8_t* dst[4] = {rgb.bitmap.Bits(), nullptr, nullptr, nullptr};
    const int dst_stride[4] = {rgb.bitmap.Stride(), 0, 0, 0};
    swscale.sws_scale(sws, picture->data, picture->linesize, 0, h, dst, dst_stride);
    return true;
}

bool TCustomFFmpeg::FromBitmap(TRgbContext& rgb, AVFrame* picture) {
    const int w = picture->width, h = picture->height;
    SwsContext* sws = swscale.sws_getCachedContext(rgb.from_rgb.release(), w, h, AV_PIX_FMT_BGR24, w, h,
                                                   static_cast<AVPixelFormat>(picture->format), kRgbScaling,
                                                   nullptr, nullptr, nullptr);
    rgb.from_rgb.reset(sws);
    if (!sws) {
        Log(0, "Cannot initialize the fromRGB conversion context");
        return false;
    }
    const uint8_t* src[4] = {rgb.bitmap.Bits(), nullptr, nullptr, nullptr};
    const int src_stride[4] = {rgb.bitmap.Stride(), 0, 0, 0};
    swscale.sws_scale(sws, src, src_stride, 0, h, picture->data, picture->linesize);
    return true;
}

void TCustomFFmpeg::SetPreviewFlags(uint8_t set, uint8_t clear) {
    // Out of the worker's reach under the lock, closed after it.
    std::unique_ptr<TPreviewWindow> closed;
    std::lock_guard<std::mutex> guard(PreviewLock);
    const uint8_t flags = static_cast<uint8_t>((preview_flags.load() | set) & ~clear);
    preview_flags = flags;
    if (!(flags & kPreviewWindow)) closed = std::move(previewer);
}

void TCustomFFmpeg::PreviewFrame(const AVFrame* picture, int64_t pts) {
    const uint8_t flags = preview_flags.load();
    const bool to_callback = (flags & kPreviewBitmap) && OnPreviewBitmap;
    if (!to_callback && !(flags & kPreviewWindow)) return;
    const int64_t now = PreviewClock ? PreviewClock() : avutil.av_gettime();
    if (now - run->last_preview_time <= preview_interval) return;
    if (to_callback) {
        // Called without the preview lock: the callback waits for the window's
        // thread, which takes the lock to change the flags.
        if (!ToBitmap(run->preview_rgb, picture)) {
            SetPreviewFlags(0, kPreviewBitmap);
            return;
        }
        OnPreviewBitmap(this, &run->preview_rgb.bitmap, run->hook_frame_count, pts);
        run->last_preview_time = now;
        return;
    }
    const bool converted = ToBitmap(run->preview_rgb, picture);
    std::lock_guard<std::mutex> guard(PreviewLock);
    // Turned off while the picture was converted.
    if (!(preview_flags.load() & kPreviewWindow)) return;
    if (converted && !previewer && NewPreviewWindow) previewer = NewPreviewWindow(FileNameOf(input_file_count > 0 ? input_files[0].get() : nullptr));
    if (converted && previewer && previewer->Show(run->preview_rgb.bitmap, run->hook_frame_count, pts)) {
        run->last_preview_time = now;
        return;
    }
    // No window to be had, or the user closed it: no more window previews for this task.
    preview_flags = static_cast<uint8_t>(preview_flags.load() & ~kPreviewWindow);
    previewer.reset();
}

void TCustomFFmpeg::ReleaseHookState() {
    frame_hooks.Release();
    std::lock_guard<std::mutex> guard(PreviewLock);
    previewer.reset();
}
