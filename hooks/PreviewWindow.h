#pragma once
// What a task needs of a preview window, and the time text it shows. The
// window belongs to the application (the converter window makes a Qt one);
// the engine and the transcoder core only see this interface.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TBitmap;

// One task's preview window.
//
// Made and used on the task's worker thread, under the process-wide preview
// lock, and destroyed on whichever thread turns the preview off (the window's
// thread, or the worker at the end of the task), also under that lock. The
// window's thread takes the same lock to change the preview flags, so no
// operation here may wait for the window's thread: whatever has to be done
// there (making, drawing, closing the real window) is handed over and done
// later.
class TPreviewWindow {
public:
    virtual ~TPreviewWindow() = default;
    // Shows the picture (copied: the caller reuses its bitmap) with the time
    // text of pts as caption. False once the user has closed the window: the
    // task previews no more.
    virtual bool Show(const TBitmap& bitmap, int frame_number, int64_t pts) = 0;
};

// Makes a task's preview window; none when the application has no windows.
// `name` is what the window shows of its task: the input file's name.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>(const std::string& name)>;

// "hh:mm:ss.mmm" of a time in microseconds (hours not wrapped at 24), or
// "N/A" for the libraries' missing-timestamp value.
std::string PreviewTimeText(int64_t pts);
