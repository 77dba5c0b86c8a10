#include "app/JobList.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile() || QFileInfo(path).isDir()) files << path;
    }
    return files;
}

TJobList::TJobList(QWidget* parent) : QTableView(parent) {
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void TJobList::dragEnterEvent(QDragEnterEvent* event) {
    if (dropsAllowed_ && !LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
    else event->ignore();
}

void TJobList::dragMoveEvent(QDragMoveEvent* event) {
    if (dropsAllowed_ && !LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
    else event->ignore();
}

void TJobList::dropEvent(QDropEvent* event) {
    const QStringList files = dropsAllowed_ ? LocalFiles(event->mimeData()) : QStringList();
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(files);
}
