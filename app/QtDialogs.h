#pragma once
// The desktop's own message boxes, file dialog, folder chooser and document opener.
#include "app/Seams.h"

class TQtDialogs : public IUserDialogs {
public:
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                     TMessageIcon icon) override;
    std::vector<std::string> ChooseFiles(QWidget* owner, const std::string& title,
                                         const std::string& filter) override;
    std::string ChooseFolder(QWidget* owner, const std::string& prompt) override;
    void OpenDocument(const std::string& path) override;
};
