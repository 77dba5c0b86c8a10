#pragma once
// What the converter window asks of the desktop: message boxes and questions, the
// batch summary, file and folder choosers, opening a document, notifications, and
// powering the computer off. The window only talks to these interfaces, so tests
// put recorders in their place.
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
    // A modal question; the index of the button chosen among `buttons`, or the
    // last one (the one that changes nothing) when the box is closed otherwise.
    virtual int Ask(QWidget* owner, const std::string& text, const std::string& title,
                    const std::vector<std::string>& buttons) = 0;
    // The summary at the end of a batch. Not modal: it holds nothing up (an
    // unattended batch, a shutdown), and its text can be selected and copied;
    // "Open folder" shows `folder` in the file manager (empty: no such button).
    virtual void ShowSummary(QWidget* owner, const std::string& title, const std::string& text,
                             const std::string& folder) = 0;
    // Several existing files, the chooser opening in `folder` (empty: the desktop's
    // choice); empty when cancelled. The filter uses Qt's syntax.
    virtual std::vector<std::string> ChooseFiles(QWidget* owner, const std::string& title,
                                                 const std::string& filter, const std::string& folder) = 0;
    // An existing folder, the chooser opening in `folder`; empty when cancelled.
    virtual std::string ChooseFolder(QWidget* owner, const std::string& prompt, const std::string& folder) = 0;
    // Opens a document with the desktop's default handler. False when no
    // program could be started for it; later failures are the desktop's to show.
    virtual bool OpenDocument(const std::string& path) = 0;
    // A desktop notification. A desktop without a notification service shows
    // nothing; that is no error.
    virtual void Notify(const std::string& title, const std::string& text) = 0;
};

// Turns the computer off. Every failure is silent.
class IShutdown {
public:
    virtual ~IShutdown() = default;
    virtual void PowerOff() = 0;
};
