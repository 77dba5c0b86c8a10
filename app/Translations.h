#pragma once
// The window in the user's language: the translators of the window and of Qt's own
// dialogs, the texts that the Qt-free libraries hand the window, and the user's
// guide of the language. English is the source language: without a translation
// every text shows as written in the code.
#include <QLocale>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "batch/Reasons.h"

class QTranslator;

// Installs the translators for a locale on the running application and makes the
// locale the default one; undoes both when it goes. Created on the window's thread,
// after the application.
class TAppTranslations {
public:
    explicit TAppTranslations(const QLocale& locale = QLocale::system());
    ~TAppTranslations();
    TAppTranslations(const TAppTranslations&) = delete;
    TAppTranslations& operator=(const TAppTranslations&) = delete;

    // True when the window has a translation for the locale.
    bool Loaded() const { return loaded_; }

private:
    QLocale previousLocale_;
    std::vector<std::unique_ptr<QTranslator>> translators_;
    bool loaded_ = false;
};

// A text from the engine, the probe or the window's helpers, translated when it is
// one of the known messages (its variable parts, such as file names, stay as they
// are and are themselves translated when they are known texts); otherwise as given.
QString TranslatedMessage(const std::string& text);

// The caption of a reason a file was not converted (batch/Reasons.h), in the
// user's language; empty for none.
QString ReasonCaptionText(TReason reason);

// The file <folder><stem>_<language><extension> for the locale's languages in
// order of preference ("help_zh_CN.html", then "help_zh.html"), falling back to
// <folder><stem><extension>; empty when none exists.
std::string LocalisedFile(const std::string& folder, const std::string& stem, const std::string& extension,
                          const QLocale& locale = QLocale());
