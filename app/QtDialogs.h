#pragma once
// The desktop's own message boxes, file dialog, folder chooser and document opener.
#include <QString>

#include <memory>

#include "app/Seams.h"

class QMessageBox;

// The box ShowMessage shows. Its text is plain: names and messages from files
// may hold "<", "&" and tags, which must show as written.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                                            TMessageIcon icon);

// A tooltip that shows the text as written (tooltips take markup otherwise).
QString PlainToolTip(const QString& text);

class TQtDialogs : public IUserDialogs {
public:
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                     TMessageIcon icon) override;
    std::vector<std::string> ChooseFiles(QWidget* owner, const std::string& title,
                                         const std::string& filter) override;
    std::string ChooseFolder(QWidget* owner, const std::string& prompt) override;
    void OpenDocument(const std::string& path) override;
};
