#pragma once
// The desktop's own message boxes, file dialog, folder chooser, document opener and
// notifications.
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

#include "app/Seams.h"

class QMessageBox;
class QPlainTextEdit;

// The box ShowMessage shows. Its text is plain: names and messages from files
// may hold "<", "&" and tags, which must show as written.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                                            TMessageIcon icon);

// A tooltip that shows the text as written (tooltips take markup otherwise).
QString PlainToolTip(const QString& text);

// The summary of a batch: its text, selectable, with a button that copies all of it.
class TSummaryDialog : public QDialog {
    Q_OBJECT
public:
    // `folder` (empty: none) is opened by `open` in the desktop's file manager.
    TSummaryDialog(QWidget* owner, const QString& title, const QString& text, const QString& folder = {},
                   std::function<void(const QString&)> open = {});
    QPlainTextEdit* Text = nullptr;
    QPushButton *BtnCopy = nullptr, *BtnClose = nullptr, *BtnOpenFolder = nullptr;
};

class TQtDialogs : public IUserDialogs {
public:
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                     TMessageIcon icon) override;
    int Ask(QWidget* owner, const std::string& text, const std::string& title,
            const std::vector<std::string>& buttons) override;
    void ShowSummary(QWidget* owner, const std::string& title, const std::string& text,
                     const std::string& folder) override;
    std::vector<std::string> ChooseFiles(QWidget* owner, const std::string& title, const std::string& filter,
                                         const std::string& folder) override;
    std::string ChooseFolder(QWidget* owner, const std::string& prompt, const std::string& folder) override;
    bool OpenDocument(const std::string& path) override;
    void Notify(const std::string& title, const std::string& text) override;
};
