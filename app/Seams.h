#pragma once
// What the converter window asks of the desktop: message boxes, file and folder
// choosers, opening a document, and powering the computer off. The window only
// talks to these interfaces, so tests put recorders in their place.
#include <string>
#include <vector>

class QWidget;

enum class TMessageIcon { Information, Warning, Error };

class IUserDialogs {
public:
    virtual ~IUserDialogs() = default;
    // A modal box with one OK button.
    virtual void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                             TMessageIcon icon) = 0;
    // Several existing files; empty when cancelled. The filter uses Qt's syntax.
    virtual std::vector<std::string> ChooseFiles(QWidget* owner, const std::string& title,
                                                 const std::string& filter) = 0;
    // An existing folder; empty when cancelled.
    virtual std::string ChooseFolder(QWidget* owner, const std::string& prompt) = 0;
    // Opens a document with the desktop's default handler; failures are the desktop's to show.
    virtual void OpenDocument(const std::string& path) = 0;
};

// Turns the computer off. Every failure is silent.
class IShutdown {
public:
    virtual ~IShutdown() = default;
    virtual void PowerOff() = 0;
};
