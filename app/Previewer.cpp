#include "app/Previewer.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

TPreviewWidget::TPreviewWidget(std::shared_ptr<TPreviewPicture> picture)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      picture_(std::move(picture)) {
    setObjectName(TPreviewer::kObjectName);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void TPreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    std::lock_guard<std::mutex> guard(picture_->lock);
    const TBitmap& bitmap = picture_->bitmap;
    if (!bitmap.Bits()) return;
    // The bitmap's rows as they are, not copied.
    const QImage image(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}

void TPreviewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    event->accept();
    // The window system moves it when it can; otherwise it follows the pointer.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TPreviewWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    move(event->globalPosition().toPoint() - drag_offset_);
    event->accept();
}

void TPreviewWidget::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void TPreviewWidget::closeEvent(QCloseEvent* event) {
    picture_->closed = true;
    event->accept();
    if (picture_->on_user_close) picture_->on_user_close();
}

TPreviewer::TPreviewer(QObject* context, const std::string& name, std::function<void()> onUserClose)
    : context_(context), picture_(std::make_shared<TPreviewPicture>()) {
    picture_->on_user_close = std::move(onUserClose);
    picture_->name = QString::fromStdString(name);
}

TPreviewer::~TPreviewer() {
    {
        std::lock_guard<std::mutex> guard(picture_->lock);
        picture_->released = true;
    }
    // Queued after any drawing already on its way, so the window it made goes too.
    QMetaObject::invokeMethod(
        context_, [picture = picture_] { delete picture->widget.data(); }, Qt::QueuedConnection);
}

bool TPreviewer::Show(const TBitmap& bitmap, int frame_number, int64_t pts) {
    if (picture_->closed) return false;
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(picture_->lock);
        // A picture that cannot be copied is left out; the next may be.
        if (!picture_->bitmap.Assign(bitmap)) return true;
        picture_->frame_number = frame_number;
        picture_->pts = pts;
        post = !picture_->posted;
        picture_->posted = true;
    }
    // One drawing at a time is on its way; it draws whatever picture is latest then.
    if (post) QMetaObject::invokeMethod(context_, [picture = picture_] { Draw(picture); }, Qt::QueuedConnection);
    return true;
}

namespace {

// The picture's size, scaled down to the widest a preview is.
QSize PreviewSize(int width, int height) {
    if (width <= TPreviewer::kMaxWidth || width <= 0) return {std::max(width, 1), std::max(height, 1)};
    return {TPreviewer::kMaxWidth, std::max(1, height * TPreviewer::kMaxWidth / width)};
}

// Beside the main window, right where there is room, else left, the previews
// of files converted at once one under the other; never over the list. A
// screen without room beside it gets them in its lower right corner, over the
// settings rather than the list.
void PlaceBesideMainWindow(QWidget* window) {
    int others = 0;
    const QWidget* main = nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w != window && w->isVisible() && w->objectName() == TPreviewer::kObjectName) ++others;
        if (w->isVisible() && w->objectName() == "Form1") main = w;
    }
    const QScreen* screen = main ? main->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    const QRect beside = main ? main->frameGeometry() : QRect(room.center(), QSize(0, 0));
    const int gap = 8, width = window->width(), height = window->height();
    const int step = height + 32;  // the caption of the one above
    const bool right = beside.right() + gap + width <= room.right();
    const bool left = beside.left() - gap - width >= room.left();
    if (!right && !left) {
        window->move(room.right() - width, std::max(room.top(), room.bottom() - height - others * step));
        return;
    }
    const int x = right ? beside.right() + gap : beside.left() - gap - width;
    window->move(x, std::min(beside.top() + others * step, std::max(room.top(), room.bottom() - height)));
}

}  // namespace

void TPreviewer::Draw(const std::shared_ptr<TPreviewPicture>& picture) {
    QSize size;
    QString caption;
    {
        std::lock_guard<std::mutex> guard(picture->lock);
        picture->posted = false;
        if (picture->released || picture->closed) return;
        size = PreviewSize(picture->bitmap.Width(), picture->bitmap.Height());
        const QString time = QString::fromStdString(PreviewTimeText(picture->pts));
        caption = picture->name.isEmpty() ? time : picture->name + QString::fromUtf8(" \u00b7 ") + time;
    }
    QWidget* window = picture->widget.data();
    if (!window) {
        window = new TPreviewWidget(picture);
        picture->widget = window;
        window->setFixedSize(size);
        PlaceBesideMainWindow(window);
        window->setWindowTitle(caption);
        window->show();
        return;
    }
    if (window->size() != size) window->setFixedSize(size);
    window->setWindowTitle(caption);
    window->update();
}
