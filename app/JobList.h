#pragma once
// The job list: a read-only view of one row per file (app/JobModel.h) that
// also takes files dropped from the desktop.
#include <QStringList>
#include <QTableView>

class TJobList : public QTableView {
    Q_OBJECT
public:
    explicit TJobList(QWidget* parent = nullptr);

    // Accepting drops is switched off while a run goes on.
    void SetDropsAllowed(bool allowed) { dropsAllowed_ = allowed; }
    // The size the list asks for (its columns and some rows); it can be made smaller.
    void SetSizeHint(QSize hint) { hint_ = hint; }
    QSize sizeHint() const override { return hint_.isValid() ? hint_ : QTableView::sizeHint(); }

signals:
    void FilesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool dropsAllowed_ = true;
    QSize hint_;
};

// The local files and folders of a drop, in order; other URLs are left out.
QStringList LocalFiles(const class QMimeData* data);
