#pragma once
// The preview window of one task: a small tool window above the others,
// beside the main window (those of files converted at once stacked), the
// picture scaled to at most kMaxWidth pixels wide, its caption the file's
// name and the picture's time, dragged by its picture. Closing it ends the previews of its
// task.
//
// The engine's side (TPreviewer) is called on a worker under the preview
// lock and never waits for the window's thread: it leaves the latest picture
// for the window and asks the window's thread to draw it. The widget is made,
// drawn and deleted only on the window's thread.
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "hooks/Bitmap.h"
#include "hooks/PreviewWindow.h"

// What a worker leaves for the window's thread.
struct TPreviewPicture {
    std::mutex lock;  // guards the fields below but the widget; held while the widget paints
    TBitmap bitmap;   // the latest picture
    int64_t pts = 0;  // its time, microseconds
    int frame_number = 0;
    bool posted = false;    // a drawing is on its way to the window's thread
    bool released = false;  // the task let the window go
    std::atomic<bool> closed{false};  // the user closed the window
    std::function<void()> on_user_close;  // set before the window exists, called on the window's thread
    QString name;                         // the file's, set before the window exists
    QPointer<QWidget> widget;  // window's thread only
};

class TPreviewWidget : public QWidget {
public:
    explicit TPreviewWidget(std::shared_ptr<TPreviewPicture> picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::shared_ptr<TPreviewPicture> picture_;
    bool dragging_ = false;
    QPoint drag_offset_;  // from the window's corner to the pointer
};

class TPreviewer : public TPreviewWindow {
public:
    // context: an object of the window's thread; queued calls to it run there.
    // onUserClose is called there when the user closes the window.
    TPreviewer(QObject* context, const std::string& name, std::function<void()> onUserClose = {});
    ~TPreviewer() override;
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    bool Show(const TBitmap& bitmap, int frame_number, int64_t pts) override;

    // The widgets' object name, for those who look for them.
    static constexpr const char* kObjectName = "TPreviewer";
    // The widest a preview is; a larger picture is scaled down.
    static constexpr int kMaxWidth = 360;

private:
    // On the window's thread: makes the window on the first picture and draws the latest.
    static void Draw(const std::shared_ptr<TPreviewPicture>& picture);

    QObject* context_;
    std::shared_ptr<TPreviewPicture> picture_;
};
