// The window in German and Simplified Chinese: every text the user meets (controls,
// messages, statuses, choosers, the about box) is translated, nothing is cut off at the
// window's fixed size, and the guide opens in the user's language.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QStyle>
#include <QXmlStreamReader>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "app/FrmAbout.h"
#include "app/Translations.h"
#include "tests/app/FormFixture.h"

using namespace apptest;
namespace fs = std::filesystem;

namespace {

const fs::path SourceRoot = ARDENTIX_SOURCE_DIR;

// A text the user sees, named by where it shows ("BtnAdd text", "message 2").
struct TSeenText {
    std::string Where;
    QString Text;
};
using TSeenTexts = std::vector<TSeenText>;

void AddText(TSeenTexts& seen, const std::string& where, const QString& text) {
    if (!text.trimmed().isEmpty()) seen.push_back({where, text});
}

std::string Name(const QWidget* w) {
    return w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName().toStdString();
}

// Every caption, title, item, tooltip and name for screen readers of a window and its children.
void AddWidgetTexts(TSeenTexts& seen, QWidget* root) {
    AddText(seen, Name(root) + " title", root->windowTitle());
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        const std::string name = Name(w);
        AddText(seen, name + " tooltip", w->toolTip());
        AddText(seen, name + " accessible name", w->accessibleName());
        AddText(seen, name + " accessible description", w->accessibleDescription());
        if (auto* b = qobject_cast<QAbstractButton*>(w)) AddText(seen, name + " text", b->text());
        if (auto* l = qobject_cast<QLabel*>(w)) AddText(seen, name + " text", l->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) AddText(seen, name + " title", g->title());
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) AddText(seen, name + " item " + std::to_string(i), c->itemText(i));
        if (auto* t = qobject_cast<QTableView*>(w))
            for (int c = 0; c < t->model()->columnCount(); ++c)
                if (!t->isColumnHidden(c))
                    AddText(seen, name + " column " + std::to_string(c),
                            t->model()->headerData(c, Qt::Horizontal).toString());
    }
}

// Texts that a translator kept as they are on purpose ("Hz"): finished
// translations equal to their source in the language's catalogue.
std::set<QString> KeptOnPurpose(const std::string& language) {
    std::set<QString> kept;
    QFile file(QString::fromStdString((SourceRoot / "app/i18n" / ("ardentix_" + language + ".ts")).string()));
    if (!file.open(QIODevice::ReadOnly)) return kept;
    QXmlStreamReader xml(&file);
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == u"source") {
            source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.name() == u"translation") {
            const bool finished = xml.attributes().value("type").isEmpty();
            if (finished && xml.readElementText(QXmlStreamReader::IncludeChildElements) == source)
                kept.insert(source);
        }
    }
    return kept;
}

// True when nothing in the text needs a language: numbers, times, signs, picture sizes ("1280x720").
bool LanguageFree(const QString& text) {
    static const QRegularExpression free(R"(^([\d\s.:%()=,/+-]|(?<=\d)x(?=\d))*$)");
    return free.match(text).hasMatch() || text == "Ardentix" || text == "..." ||
           (text.startsWith("Ardentix ") && free.match(text.mid(9)).hasMatch());
}

// Widgets whose text does not fit the room the window gives them.
std::vector<std::string> CutOffTexts(QWidget* root) {
    std::vector<std::string> cut;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        const bool hasText = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QGroupBox*>(w);
        // A control of a fixed width needs room for its text, not for the style's usual width.
        QSize needs = w->sizeHint();
        auto* button = qobject_cast<QPushButton*>(w);
        if (button && w->minimumWidth() == w->maximumWidth())
            needs.setWidth(button->fontMetrics().horizontalAdvance(button->text()) +
                           2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin));
        if (hasText && (w->width() < needs.width() || w->height() < needs.height()))
            cut.push_back(Name(w) + " is " + std::to_string(w->width()) + "x" + std::to_string(w->height()) +
                          " but needs " + std::to_string(needs.width()) + "x" + std::to_string(needs.height()));
        if (auto* t = qobject_cast<QTableView*>(w)) {
            QHeaderView* header = t->horizontalHeader();
            for (int c = 0; c < t->model()->columnCount(); ++c)
                if (!t->isColumnHidden(c) && header->sectionSize(c) < header->sectionSizeHint(c))
                    cut.push_back(Name(w) + " column \"" + t->model()->headerData(c, Qt::Horizontal).toString().toStdString() +
                                  "\" is " + std::to_string(header->sectionSize(c)) + " wide but needs " +
                                  std::to_string(header->sectionSizeHint(c)));
        }
    }
    return cut;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += "\n  " + l;
    return all;
}

class TranslationTest : public FormTest {
protected:
    // The user's way through the window in the current language: every text seen on
    // the way, and every text that did not fit.
    struct TWalk {
        TSeenTexts Texts;
        std::vector<std::string> CutOff;
        std::string Help;
    };

    TWalk Walk() {
        TWalk walk;
        dialogs = TRecordingDialogs();
        dialogs.Shutdown = &shutdown;
        const std::string out = dir.File("out") + "/";
        fs::remove_all(out);
        WriteSettingsText("[Options]\nOutputPath=" + out + "\n");
        EXPECT_TRUE(Create());
        form->show();
        WaitUntil([&] { return form->isVisible(); });
        AddWidgetTexts(walk.Texts, form.get());
        for (const std::string& c : CutOffTexts(form.get())) walk.CutOff.push_back("window: " + c);
        {
            TFrmAbout about(form.get());
            about.show();
            AddWidgetTexts(walk.Texts, &about);
            for (const std::string& c : CutOffTexts(&about)) walk.CutOff.push_back("about box: " + c);
        }

        // The choosers, then the messages a user meets most.
        form->BtnChangeOutputFolder->click();
        AddThroughDialog({});
        form->BtnStart->click();  // an empty list
        AddThroughDialog({MakeEmpty(dir, "empty.rm")});
        std::ofstream(dir.File("list.ram")) << "rtsp://media.example.com/a.rm\n" << dir.File("gone.rm") << "\n";
        AddThroughDialog({dir.File("list.ram")});

        // A conversion to its end, and the line and caption while it runs.
        AddThroughDialog({song});
        form->BtnStart->click();
        AddText(walk.Texts, "BtnStart text while converting", form->BtnStart->text());
        form->BtnPause->click();
        AddText(walk.Texts, "BtnPause text while paused", form->BtnPause->text());
        AddText(walk.Texts, "LblBatch text while paused", form->LblBatch->text());
        form->BtnPause->click();
        WaitUntil([&] { return !form->RunGoing(); });
        AddText(walk.Texts, "status after the run", QString::fromStdString(Cell(0, colStatus)));
        AddText(walk.Texts, "LblProgress text after the run", form->LblProgress->text());
        for (const std::string& c : CutOffTexts(form.get())) walk.CutOff.push_back("window after a run: " + c);

        // A list converted already (the question), then a folder that cannot be made.
        std::ofstream(dir.File("taken")) << "x";
        dialogs.FolderAnswers.push_back(dir.File("taken") + "/sub");
        form->BtnChangeOutputFolder->click();
        form->BtnStart->click();

        for (size_t i = 0; i < dialogs.FileTitles.size(); ++i) {
            AddText(walk.Texts, "file chooser title", QString::fromStdString(dialogs.FileTitles[i]));
            AddText(walk.Texts, "file chooser filter", QString::fromStdString(dialogs.FileFilters[i]));
        }
        for (const auto& q : dialogs.Questions) {
            AddText(walk.Texts, "question", QString::fromStdString(q.Text));
            for (const std::string& b : q.Buttons) AddText(walk.Texts, "question button", QString::fromStdString(b));
        }
        for (const auto& summary : dialogs.Summaries) {
            AddText(walk.Texts, "summary title", QString::fromStdString(summary.Title));
            // Its lines that carry words; the file lines hold names.
            for (const QString& line : QString::fromStdString(summary.Text).split('\n'))
                if (!line.startsWith("  ")) AddText(walk.Texts, "summary line", line);
        }
        for (const std::string& p : dialogs.FolderPrompts)
            AddText(walk.Texts, "folder chooser prompt", QString::fromStdString(p));
        for (size_t i = 0; i < dialogs.Messages.size(); ++i) {
            const std::string n = "message " + std::to_string(i + 1);
            AddText(walk.Texts, n, QString::fromStdString(dialogs.Messages[i].Text));
            AddText(walk.Texts, n + " title", QString::fromStdString(dialogs.Messages[i].Title));
        }
        // The guide, first where the desktop has no program to open it.
        dialogs.CanOpen = false;
        form->BtnHelp->click();
        AddText(walk.Texts, "box without a program for the guide",
                QString::fromStdString(dialogs.Messages.back().Text));
        walk.Help = dialogs.Opened.empty() ? "" : fs::path(dialogs.Opened.back()).filename().string();
        Destroy();
        return walk;
    }

    void SetUp() override {
        song = MakeRealAc3(dir, "song.rm", 1.0);
        for (const char* guide : {"help.html", "help_de.html", "help_zh_CN.html"})
            std::ofstream(dir.File("prog/") + guide) << "<html></html>";
    }

    std::string song;
};

TEST_F(TranslationTest, EveryTextIsTranslatedAndFitsTheWindow) {
    const TWalk english = Walk();
    EXPECT_TRUE(english.CutOff.empty()) << "English texts cut off:" << Joined(english.CutOff);
    EXPECT_EQ(english.Help, "help.html");
    // The walk met the texts it is meant to meet.
    ASSERT_GE(english.Texts.size(), 40u);
    std::vector<std::string> messages;
    for (const TSeenText& t : english.Texts)
        if (t.Where.rfind("message", 0) == 0 && t.Where.find("title") == std::string::npos)
            messages.push_back(t.Text.toStdString());
    ASSERT_EQ(messages.size(), 4u) << Joined(messages);
    EXPECT_EQ(messages[0], "Please select files to be converted.");

    const struct {
        const char* locale;
        const char* language;
        const char* guide;
    } languages[] = {{"de_DE", "de", "help_de.html"}, {"zh_CN", "zh_CN", "help_zh_CN.html"}};
    for (const auto& l : languages) {
        SCOPED_TRACE(l.locale);
        std::unique_ptr<TAppTranslations> translations;
        translations = std::make_unique<TAppTranslations>(QLocale(l.locale));
        ASSERT_TRUE(translations->Loaded());
        const TWalk walk = Walk();
        translations.reset();

        EXPECT_TRUE(walk.CutOff.empty()) << "texts cut off:" << Joined(walk.CutOff);
        EXPECT_EQ(walk.Help, l.guide);
        ASSERT_EQ(walk.Texts.size(), english.Texts.size()) << "the walk met other texts than in English";
        const std::set<QString> kept = KeptOnPurpose(l.language);
        std::vector<std::string> untranslated;
        for (size_t i = 0; i < walk.Texts.size(); ++i) {
            const QString& shown = walk.Texts[i].Text;
            const QString& source = english.Texts[i].Text;
            EXPECT_EQ(walk.Texts[i].Where, english.Texts[i].Where);
            if (shown != source || LanguageFree(source) || kept.count(source)) continue;
            untranslated.push_back(walk.Texts[i].Where + ": \"" + source.toStdString() + "\"");
        }
        EXPECT_TRUE(untranslated.empty()) << "not translated to " << l.language << " (app/i18n/ardentix_"
                                          << l.language << ".ts):" << Joined(untranslated);
        // A reason is told in the user's language by its code; only its details (the
        // libraries' and the link's own words) stay as written.
        for (size_t i = 0; i < walk.Texts.size(); ++i)
            if (walk.Texts[i].Where.rfind("message", 0) == 0)
                EXPECT_FALSE(walk.Texts[i].Text.contains("The link names") || walk.Texts[i].Text.contains("Cannot read"))
                    << walk.Texts[i].Text.toStdString();
    }
}

// Each catalogue translates every text it holds: lupdate marks the texts the code
// gained since as unfinished, and they are listed here.
TEST(TranslationCatalogue, HasNoUnfinishedTexts) {
    for (const std::string language : {"de", "zh_CN"}) {
        QFile file(QString::fromStdString((SourceRoot / "app/i18n" / ("ardentix_" + language + ".ts")).string()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        QXmlStreamReader xml(&file);
        QString source;
        std::vector<std::string> unfinished;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == u"source") source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (xml.name() != u"translation") continue;
            ++messages;
            const bool open = !xml.attributes().value("type").isEmpty();
            if (open || xml.readElementText(QXmlStreamReader::IncludeChildElements).isEmpty())
                unfinished.push_back(source.toStdString());
        }
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
        EXPECT_GT(messages, 40);
        EXPECT_TRUE(unfinished.empty()) << language << " lacks:" << Joined(unfinished);
    }
}

// Texts the libraries hand the window: known ones are translated as a whole with
// their parts; file names keep every character; unknown texts stay as they are.
TEST(TranslatedMessage, KnownPatternsWithTheirParts) {
    apptest::App();
    const TAppTranslations german(QLocale("de_DE"));
    ASSERT_TRUE(german.Loaded());
    const struct {
        std::string text;
        std::string german;
    } cases[] = {
        {"42% Completed", "42\u00a0% abgeschlossen"},
        {"00:01:05 Converted", "00:01:05 konvertiert"},
        {"/m/a%1b.rm: Unknown format", "/m/a%1b.rm: Unbekanntes Format"},
        {"/m/l.ram: link to /m/x.rm: no such file", "/m/l.ram: Verweis auf /m/x.rm: Datei nicht gefunden"},
        {"/m/l.ram: link to rtsp://h/a.rm, which cannot be fetched: only local files are converted",
         "/m/l.ram: Verweis auf rtsp://h/a.rm, der nicht abgerufen werden kann: nur lokale Dateien werden "
         "konvertiert"},
        {"Load library libavcodec.so.59 error: gone", "Fehler beim Laden der Bibliothek libavcodec.so.59: gone"},
        {"Unable to write to /ro/Options.ini", "/ro/Options.ini kann nicht geschrieben werden"},
        {"Not a directory", "Kein Verzeichnis"},
        {"Could not open '/o/a.mp3': Permission denied", "„/o/a.mp3“ konnte nicht geöffnet werden: Zugriff verweigert"},
        {"Could not open '/o/a.mp3'", "„/o/a.mp3“ konnte nicht geöffnet werden"},
        {"'/o/a.rm' is the input file 'a.rm' itself", "„/o/a.rm“ ist die Eingabedatei „a.rm“ selbst"},
        {"x.rm: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.",
         "x.rm: Ein-/Ausgabefehler\r\nMeist bedeutet das, dass die Eingabedatei abgeschnitten oder beschädigt ist."},
        {"Some new engine text", "Some new engine text"},
        {"", ""},
        {"Completed\nUnknown format", "Abgeschlossen\nUnknown format"},
        {"/m/l.ram: link to /m/x.rm: no such file\n/m/l.ram: link to /m/y.rm: is a directory",
         "/m/l.ram: Verweis auf /m/x.rm: Datei nicht gefunden\n/m/l.ram: Verweis auf /m/y.rm: ist ein Verzeichnis"},
    };
    for (const auto& c : cases) EXPECT_EQ(TranslatedMessage(c.text).toStdString(), c.german) << c.text;
}

TEST(LocalisedFile, PrefersTheLanguageThenTheSource) {
    ardentix::test::TempDir dir;
    const std::string folder = dir.Path() + "/";
    for (const char* f : {"help.html", "help_de.html", "help_zh_CN.html"}) std::ofstream(folder + f) << "x";
    const struct {
        const char* locale;
        const char* file;
    } cases[] = {{"de_DE", "help_de.html"}, {"de_AT", "help_de.html"}, {"zh_CN", "help_zh_CN.html"},
                 {"zh_TW", "help.html"},    {"fr_FR", "help.html"},    {"C", "help.html"}};
    for (const auto& c : cases)
        EXPECT_EQ(LocalisedFile(folder, "help", ".html", QLocale(c.locale)), folder + c.file) << c.locale;
    fs::remove(folder + "help.html");
    EXPECT_EQ(LocalisedFile(folder, "help", ".html", QLocale("fr_FR")), "");
}

// The guide is written in each language with the same sections as the English one.
TEST(TranslatedGuide, HasEverySectionOfTheEnglishOne) {
    auto anchors = [](const fs::path& file) {
        std::ifstream in(file);
        const std::string html((std::istreambuf_iterator<char>(in)), {});
        std::vector<std::string> ids;
        static const std::regex id(R"re(id="([^"]+)")re");
        for (auto it = std::sregex_iterator(html.begin(), html.end(), id); it != std::sregex_iterator(); ++it)
            ids.push_back((*it)[1]);
        return std::make_pair(ids, html);
    };
    const auto [english, englishHtml] = anchors(SourceRoot / "app/help/help.html");
    ASSERT_GT(english.size(), 5u);
    for (const std::string language : {"de", "zh-CN"}) {
        const std::string file = language == "de" ? "help_de.html" : "help_zh_CN.html";
        const auto [ids, html] = anchors(SourceRoot / "app/help" / file);
        EXPECT_EQ(ids, english) << file;
        EXPECT_NE(html.find("<html lang=\"" + language + "\">"), std::string::npos) << file;
        EXPECT_NE(html, englishHtml);
    }
}

}  // namespace

// The window keeps its own copy of the reasons' captions for the catalogues: in
// English it must say what the converter says.
TEST(ReasonCaptions, TheWindowsEnglishIsTheConvertersOwn) {
    for (const TReason reason : AllReasons())
        EXPECT_EQ(ReasonCaptionText(reason).toStdString(), ReasonCaption(reason)) << ReasonName(reason);
    EXPECT_TRUE(ReasonCaptionText(TReason::None).isEmpty());
}
