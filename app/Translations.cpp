#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

#include <filesystem>

namespace {

// The translations are built into the program (see app/CMakeLists.txt).
const char* const EmbeddedTranslations = ":/i18n";
const char* const MessageContext = "TMessageText";

// A known message: a pattern over the whole English text, and its translatable
// form with %1, %2, ... for the pattern's groups in order.
struct TMessagePattern {
    const char* pattern;
    const char* text;
};

// The messages the libraries hand the window, as they write them.
constexpr TMessagePattern MessagePatterns[] = {
    // The Status column and the window's own messages, which pass through the same funnel.
    {R"(Completed)", QT_TRANSLATE_NOOP("TMessageText", "Completed")},
    {R"(Completed \((.+)\))", QT_TRANSLATE_NOOP("TMessageText", "Completed (%1)")},
    {R"((\d+:\d\d:\d\d) of (\d+:\d\d:\d\d))", QT_TRANSLATE_NOOP("TMessageText", "%1 of %2")},
    {R"(Failed)", QT_TRANSLATE_NOOP("TMessageText", "Failed")},
    {R"(Stopped)", QT_TRANSLATE_NOOP("TMessageText", "Stopped")},
    {R"(Stopped \((.+)\))", QT_TRANSLATE_NOOP("TMessageText", "Stopped (%1)")},
    {R"(Skipped)", QT_TRANSLATE_NOOP("TMessageText", "Skipped")},
    {R"(Paused)", QT_TRANSLATE_NOOP("TMessageText", "Paused")},
    {R"(Waiting to be read)", QT_TRANSLATE_NOOP("TMessageText", "Waiting to be read")},
    {R"(Error)", QT_TRANSLATE_NOOP("TMessageText", "Error")},
    {R"(Information)", QT_TRANSLATE_NOOP("TMessageText", "Information")},
    {R"(Cannot convert: (.+))", QT_TRANSLATE_NOOP("TMessageText", "Cannot convert: %1")},
    {R"(Please select files to be converted\.)", QT_TRANSLATE_NOOP("TMessageText", "Please select files to be converted.")},
    {R"re(Cannot write to the output folder "(.+)": (.+)\.)re",
     QT_TRANSLATE_NOOP("TMessageText", "Cannot write to the output folder \"%1\": %2.")},
    {R"((.+)\. Please re-install the program and try it again\.)",
     QT_TRANSLATE_NOOP("TMessageText", "%1. Please re-install the program and try it again.")},
    {R"(File conversion process finished\.)", QT_TRANSLATE_NOOP("TMessageText", "File conversion process finished.")},
    // The audio choices (batch/OutputPlan.cpp).
    {R"(1 Channel, Mono)", QT_TRANSLATE_NOOP("TMessageText", "1 Channel, Mono")},
    {R"(2 Channels, Stereo)", QT_TRANSLATE_NOOP("TMessageText", "2 Channels, Stereo")},
    {R"(Same as source)", QT_TRANSLATE_NOOP("TMessageText", "Same as source")},
    {R"(Automatic)", QT_TRANSLATE_NOOP("TMessageText", "Automatic")},
    {R"(VBR high)", QT_TRANSLATE_NOOP("TMessageText", "VBR high")},
    {R"(VBR standard)", QT_TRANSLATE_NOOP("TMessageText", "VBR standard")},
    {R"(VBR small)", QT_TRANSLATE_NOOP("TMessageText", "VBR small")},
    // The rule for existing outputs (batch/ExistingOutputs.cpp).
    {R"(Number the new file)", QT_TRANSLATE_NOOP("TMessageText", "Number the new file")},
    {R"(Skip the file)", QT_TRANSLATE_NOOP("TMessageText", "Skip the file")},
    {R"(Replace the old file)", QT_TRANSLATE_NOOP("TMessageText", "Replace the old file")},
    // The Status column (batch/General.cpp).
    {R"((\d+)% Completed)", QT_TRANSLATE_NOOP("TMessageText", "%1% Completed")},
    {R"((\d+:\d\d:\d\d) Converted)", QT_TRANSLATE_NOOP("TMessageText", "%1 Converted")},
    {R"((.+) · Frame (\d+) · (\d+) fps)", QT_TRANSLATE_NOOP("TMessageText", "%1 · Frame %2 · %3 fps")},
    // The output formats (batch/OutputKinds.cpp) and a source that has none of what one needs.
    {R"(MP3 audio)", QT_TRANSLATE_NOOP("TMessageText", "MP3 audio")},
    {R"(M4A audio \(AAC\))", QT_TRANSLATE_NOOP("TMessageText", "M4A audio (AAC)")},
    {R"(Opus audio)", QT_TRANSLATE_NOOP("TMessageText", "Opus audio")},
    {R"(Ogg Vorbis audio)", QT_TRANSLATE_NOOP("TMessageText", "Ogg Vorbis audio")},
    {R"(FLAC audio \(lossless\))", QT_TRANSLATE_NOOP("TMessageText", "FLAC audio (lossless)")},
    {R"(WAV audio \(uncompressed\))", QT_TRANSLATE_NOOP("TMessageText", "WAV audio (uncompressed)")},
    {R"(MP4 video \(H\.264/AAC\))", QT_TRANSLATE_NOOP("TMessageText", "MP4 video (H.264/AAC)")},
    {R"(DVD \(MPEG-2\))", QT_TRANSLATE_NOOP("TMessageText", "DVD (MPEG-2)")},
    {R"(VCD \(MPEG-1\))", QT_TRANSLATE_NOOP("TMessageText", "VCD (MPEG-1)")},
    {R"(SVCD \(MPEG-2\))", QT_TRANSLATE_NOOP("TMessageText", "SVCD (MPEG-2)")},
    {R"(DV)", QT_TRANSLATE_NOOP("TMessageText", "DV")},
    {R"(MKV video \(H\.264/AAC\))", QT_TRANSLATE_NOOP("TMessageText", "MKV video (H.264/AAC)")},
    {R"(DVCPRO 50 \(4:2:2\))", QT_TRANSLATE_NOOP("TMessageText", "DVCPRO 50 (4:2:2)")},
    {R"(has no video stream to write as (.+))",
     QT_TRANSLATE_NOOP("TMessageText", "has no video stream to write as %1")},
    // Opening and saving an input or output file (binding/ErrorText.cpp, core/InputFile.cpp,
    // core/OutputFile.cpp).
    {R"((.+): Unknown format)", QT_TRANSLATE_NOOP("TMessageText", "%1: Unknown format")},
    {R"((.+): Error while parsing header)", QT_TRANSLATE_NOOP("TMessageText", "%1: Error while parsing header")},
    {R"((.+): memory allocation error occurred)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: memory allocation error occurred")},
    {R"((.+): I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted\.)",
     QT_TRANSLATE_NOOP("TMessageText",
                       "%1: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.")},
    {R"((.+): no such file or directory)", QT_TRANSLATE_NOOP("TMessageText", "%1: no such file or directory")},
    {R"((.+): Error while opening file)", QT_TRANSLATE_NOOP("TMessageText", "%1: Error while opening file")},
    {R"((.+): could not find codec parameters)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: could not find codec parameters")},
    {R"(Could not open '(.+)': (.+))", QT_TRANSLATE_NOOP("TMessageText", "Could not open '%1': %2")},
    {R"(Could not open '(.+)')", QT_TRANSLATE_NOOP("TMessageText", "Could not open '%1'")},
    {R"(Could not save '(.+)': (.+))", QT_TRANSLATE_NOOP("TMessageText", "Could not save '%1': %2")},
    {R"('(.+)' is the input file '(.+)' itself)", QT_TRANSLATE_NOOP("TMessageText", "'%1' is the input file '%2' itself")},
    {R"(Output file #(\d+) does not contain any stream)",
     QT_TRANSLATE_NOOP("TMessageText", "Output file #%1 does not contain any stream")},
    // Loading the media libraries (binding/FFmpegLoader.cpp).
    {R"(Load library (.+) error: (.+))", QT_TRANSLATE_NOOP("TMessageText", "Load library %1 error: %2")},
    // Link files (probe/LinkFile.cpp); the reasons after the last ": " are rows too.
    {R"((.+): link to (.+), which cannot be fetched: only local files are converted)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: link to %2, which cannot be fetched: only local files are converted")},
    {R"((.+): link to (.+), which leads back to a link already followed)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: link to %2, which leads back to a link already followed")},
    {R"((.+): link to (.+), one link too many in a row)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: link to %2, one link too many in a row")},
    {R"((.+): names too many files and links; the rest are left out)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: names too many files and links; the rest are left out")},
    {R"((.+): line (\d+) is too long to name a file)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: line %2 is too long to name a file")},
    {R"((.+): only the first (\d+) entries are read)",
     QT_TRANSLATE_NOOP("TMessageText", "%1: only the first %2 entries are read")},
    {R"((.+): link file that names no file)", QT_TRANSLATE_NOOP("TMessageText", "%1: link file that names no file")},
    {R"((.+): link to (.+): (no such file|is a directory|not a regular file))",
     QT_TRANSLATE_NOOP("TMessageText", "%1: link to %2: %3")},
    {R"(no such file)", QT_TRANSLATE_NOOP("TMessageText", "no such file")},
    {R"(is a directory)", QT_TRANSLATE_NOOP("TMessageText", "is a directory")},
    {R"(not a regular file)", QT_TRANSLATE_NOOP("TMessageText", "not a regular file")},
    // The settings file (batch/IniFile.cpp).
    {R"(Unable to write to (.+))", QT_TRANSLATE_NOOP("TMessageText", "Unable to write to %1")},
    // The system's reasons for a folder that cannot take the files (core/OutputPlace.cpp).
    {R"(Permission denied)", QT_TRANSLATE_NOOP("TMessageText", "Permission denied")},
    {R"(No such file or directory)", QT_TRANSLATE_NOOP("TMessageText", "No such file or directory")},
    {R"(Not a directory)", QT_TRANSLATE_NOOP("TMessageText", "Not a directory")},
    {R"(No space left on device)", QT_TRANSLATE_NOOP("TMessageText", "No space left on device")},
    {R"(Read-only file system)", QT_TRANSLATE_NOOP("TMessageText", "Read-only file system")},
    {R"(File name too long)", QT_TRANSLATE_NOOP("TMessageText", "File name too long")},
};

// The reasons' captions as batch/Reasons.cpp writes them, for the catalogues.
struct TReasonText {
    TReason reason;
    const char* text;
};
constexpr TReasonText ReasonTexts[] = {
    {TReason::InputUnreadable, QT_TRANSLATE_NOOP("TReason", "Cannot read the input")},
    {TReason::LinkEntryUnusable, QT_TRANSLATE_NOOP("TReason", "The link names nothing that can be converted")},
    {TReason::NoStreamForKind, QT_TRANSLATE_NOOP("TReason", "The input has nothing to write as this format")},
    {TReason::OutputFolderUnusable, QT_TRANSLATE_NOOP("TReason", "Cannot write to the output folder")},
    {TReason::OutputIsInput, QT_TRANSLATE_NOOP("TReason", "The output would replace the input")},
    {TReason::NameRefused, QT_TRANSLATE_NOOP("TReason", "The output's name cannot be used")},
    {TReason::DiskFull, QT_TRANSLATE_NOOP("TReason", "The disk is full")},
    {TReason::DecodingFailed, QT_TRANSLATE_NOOP("TReason", "The input could not be decoded")},
    {TReason::EncodingFailed, QT_TRANSLATE_NOOP("TReason", "The conversion failed")},
    {TReason::Stopped, QT_TRANSLATE_NOOP("TReason", "Stopped")},
    {TReason::InputEndedEarly, QT_TRANSLATE_NOOP("TReason", "The input ends early")},
    {TReason::OutputExists, QT_TRANSLATE_NOOP("TReason", "The output exists already")},
    {TReason::AccessDenied, QT_TRANSLATE_NOOP("TReason", "No permission to read it")},
    {TReason::NameTooLong, QT_TRANSLATE_NOOP("TReason", "The name is too long")},
    {TReason::NotAFile, QT_TRANSLATE_NOOP("TReason", "Not a file (a device, a pipe or a socket)")},
    {TReason::DanglingLink, QT_TRANSLATE_NOOP("TReason", "The link points to nothing")},
    {TReason::Vanished, QT_TRANSLATE_NOOP("TReason", "Removed or replaced before its turn")},
};

struct TCompiledPattern {
    QRegularExpression expression;
    const char* text;
};

const std::vector<TCompiledPattern>& CompiledPatterns() {
    static const std::vector<TCompiledPattern> compiled = [] {
        std::vector<TCompiledPattern> all;
        for (const TMessagePattern& p : MessagePatterns)
            // A part never reaches over a line's end: several messages in one text stay apart.
            all.push_back({QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(p.pattern))),
                           p.text});
        return all;
    }();
    return compiled;
}

// Fills %1..%9 in one pass, so that a "%2" inside a file name stays as written.
QString FillPlaceholders(const QString& form, const std::vector<QString>& values) {
    QString out;
    for (qsizetype i = 0; i < form.size(); ++i) {
        const QChar c = form[i];
        if (c == '%' && i + 1 < form.size() && form[i + 1] >= '1' && form[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(form[i + 1].unicode() - '1');
            if (n < values.size()) {
                out += values[n];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace

TAppTranslations::TAppTranslations(const QLocale& locale) : previousLocale_(QLocale()) {
    // The window's numbers and its guide follow the same locale.
    QLocale::setDefault(locale);
    auto own = std::make_unique<QTranslator>();
    loaded_ = own->load(locale, "ardentix", "_", EmbeddedTranslations);
    if (!loaded_) return;
    QCoreApplication::installTranslator(own.get());
    translators_.push_back(std::move(own));
    // Qt's buttons and file dialogs in the same language, when the system has them.
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        translators_.push_back(std::move(qt));
    }
}

TAppTranslations::~TAppTranslations() {
    for (auto& t : translators_) QCoreApplication::removeTranslator(t.get());
    QLocale::setDefault(previousLocale_);
}

QString TranslatedMessage(const std::string& text) {
    const QString source = QString::fromStdString(text);
    for (const TCompiledPattern& p : CompiledPatterns()) {
        const QRegularExpressionMatch match = p.expression.match(source);
        if (!match.hasMatch()) continue;
        std::vector<QString> parts;
        // Every group is shorter than the whole text, so this ends.
        for (int g = 1; g <= match.lastCapturedIndex(); ++g)
            parts.push_back(TranslatedMessage(match.captured(g).toStdString()));
        return FillPlaceholders(QCoreApplication::translate(MessageContext, p.text), parts);
    }
    // Several messages, one a line (the problems of a link file).
    if (source.contains('\n')) {
        QStringList lines;
        for (const QString& line : source.split('\n')) lines << TranslatedMessage(line.toStdString());
        return lines.join('\n');
    }
    return source;
}

QString ReasonCaptionText(TReason reason) {
    for (const TReasonText& row : ReasonTexts)
        if (row.reason == reason) return QCoreApplication::translate("TReason", row.text);
    return {};
}

std::string LocalisedFile(const std::string& folder, const std::string& stem, const std::string& extension,
                          const QLocale& locale) {
    std::error_code ec;
    for (QString language : locale.uiLanguages()) {
        // "de_AT" is read by a German: the less specific names are tried after it.
        language.replace('-', '_');
        for (; !language.isEmpty(); language.truncate(std::max<qsizetype>(0, language.lastIndexOf('_')))) {
            const std::string path = folder + stem + "_" + language.toStdString() + extension;
            if (std::filesystem::is_regular_file(path, ec)) return path;
        }
    }
    const std::string plain = folder + stem + extension;
    return std::filesystem::is_regular_file(plain, ec) ? plain : std::string();
}
