// The window as its users expect it: keys and mnemonics, accessible names, the
// names actually written, several files at once, the list following the run,
// the batch line, the notification at the end and the folders the choosers open in.
#include <QAccessible>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "app/QtDialogs.h"
#include "tests/app/FormFixture.h"
#include "tests/common/AudioCheck.h"

using namespace apptest;
using namespace ardentix::test;
namespace fs = std::filesystem;

namespace {

class WindowBehaviourTest : public RunFormTest {
protected:
    void SetUp() override {
        RunFormTest::SetUp();
        if (HasFatalFailure()) return;
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
        QCoreApplication::processEvents();
    }
    void ClearOutput() {
        for (const auto& e : fs::directory_iterator(out)) fs::remove(e.path());
    }
};

// The letter after "&" in a caption, lower case; 0 when there is none.
QChar Mnemonic(const QString& text) {
    const int at = text.indexOf('&');
    return at >= 0 && at + 1 < text.size() ? text[at + 1].toLower() : QChar();
}

}  // namespace

TEST_F(WindowBehaviourTest, EveryButtonAndLabelHasItsOwnKey) {
    std::map<QChar, std::string> taken;
    auto claim = [&](const QString& text, const std::string& name) {
        const QChar key = Mnemonic(text);
        EXPECT_FALSE(key.isNull()) << name << " has no key: " << text.toStdString();
        if (key.isNull()) return;
        EXPECT_EQ(taken.count(key), 0u) << name << " and " << taken[key] << " share Alt+" << QString(key).toStdString();
        taken[key] = name;
    };
    for (QAbstractButton* b : form->findChildren<QAbstractButton*>()) {
        if (b == form->BtnChangeOutputFolder) continue;  // "...": reached through its label
        if (b->objectName().isEmpty()) continue;       // parts of Qt's own controls
        claim(b->text(), b->objectName().toStdString());
    }
    for (QLabel* l : {form->Label1, form->Label5, form->Label6, form->Label10, form->LblSimultaneous}) {
        claim(l->text(), l->objectName().toStdString());
        EXPECT_NE(l->buddy(), nullptr) << l->objectName().toStdString();
    }
    // The label of the output folder leads to its chooser.
    EXPECT_EQ(form->Label1->buddy(), form->BtnChangeOutputFolder);
}

TEST_F(WindowBehaviourTest, KeysDoWhatTheButtonsDo) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 0.3);
    const std::string b = MakeRealAudio144(dir, "b.ra", 0.3);
    const std::string c = MakeRealAudio144(dir, "c.ra", 0.3);

    // Ctrl+O and Alt+A both open the add dialog.
    dialogs.FileAnswers = {{a, b}, {c}};
    Key(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs.FileTitles.size(), 1u);
    Key(form.get(), Qt::Key_A, Qt::AltModifier);
    // A mnemonic presses its button the way a click does, shown for a moment first.
    ASSERT_TRUE(WaitUntil([&] { return dialogs.FileTitles.size() == 2u; }, std::chrono::seconds(5)));
    WaitRead();
    ASSERT_EQ(Rows(), 3);

    auto order = [&] {
        std::string names;
        for (int r = 0; r < Rows(); ++r) names += Cell(r, colInputFilename).substr(0, 1);
        return names;
    };
    struct TCase {
        const char* name;
        int selected, key;
        Qt::KeyboardModifiers modifiers;
        const char* order;
    } cases[] = {
        {"Ctrl+Down moves down", 0, Qt::Key_Down, Qt::ControlModifier, "bac"},
        {"Ctrl+Down again", 1, Qt::Key_Down, Qt::ControlModifier, "bca"},
        {"Ctrl+Down on the last row", 2, Qt::Key_Down, Qt::ControlModifier, "bca"},
        {"Ctrl+Up moves up", 2, Qt::Key_Up, Qt::ControlModifier, "bac"},
        {"Ctrl+Up on the first row", 0, Qt::Key_Up, Qt::ControlModifier, "bac"},
        {"Delete removes the selected row", 1, Qt::Key_Delete, Qt::NoModifier, "bc"},
    };
    for (const TCase& t : cases) {
        SCOPED_TRACE(t.name);
        form->Lvw->setFocus();
        form->Lvw->setCurrentIndex(form->Lvw->model()->index(t.selected, 0));
        SelectRow(t.selected);
        Key(form->Lvw, t.key, t.modifiers);
        EXPECT_EQ(order(), t.order);
    }
    // Tab leaves the list for the next control instead of walking its cells.
    form->Lvw->setFocus();
    Key(form->Lvw, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), form->Lvw);
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(WindowBehaviourTest, KeysDoNothingWhileTheButtonsAreLocked) {
    form->Engine().SetProgressInterval(100);
    AddThroughDialog({MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440}), MakeRealAudio144(dir, "b.ra", 0.3)});
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Status(0).find("% Completed") != std::string::npos; }));
    form->Lvw->setFocus();
    SelectRow(1);
    Key(form->Lvw, Qt::Key_Delete);
    Key(form->Lvw, Qt::Key_Up, Qt::ControlModifier);
    Key(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, colInputFilename), "b.ra");
    EXPECT_TRUE(dialogs.FileTitles.size() == 1u);  // only the add above
    form->BtnStart->click();
}

TEST_F(WindowBehaviourTest, EveryControlHasAnAccessibleName) {
    const std::regex control("(Btn|Cbo|Chk|Spn|Edt|Lvw|Pb|Lbl).*");
    int checked = 0;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        const std::string name = w->objectName().toStdString();
        if (!std::regex_match(name, control)) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr) << name;
        const QString said = a->text(QAccessible::Name);
        EXPECT_FALSE(said.trimmed().isEmpty()) << name;
        EXPECT_FALSE(said.contains('&')) << name << ": " << said.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

// Return after a run (the finished box closed, the focus still on the button)
// must not start the batch again; a list all converted asks first.
TEST_F(WindowBehaviourTest, ReturnAfterARunDoesNotConvertAgain) {
    AddThroughDialog({MakeRealAudio144(dir, "a.ra", 0.3)});
    EXPECT_FALSE(form->BtnStart->isDefault());
    RunToEnd();
    ASSERT_EQ(Status(0), "Completed");
    form->BtnStart->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) Key(form->BtnStart, key);
    Key(form.get(), Qt::Key_Return);
    EXPECT_FALSE(form->RunGoing());
    EXPECT_TRUE(dialogs.Questions.empty());
    EXPECT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_FALSE(fs::exists(out + "a(1).mp3"));
    // A list with a row not converted yet starts without a question, and
    // converts that row only: the converted one gets no copy beside it.
    AddThroughDialog({MakeRealAudio144(dir, "b.ra", 0.3)});
    RunToEnd();
    EXPECT_TRUE(dialogs.Questions.empty());
    EXPECT_TRUE(fs::exists(out + "b.mp3"));
    EXPECT_FALSE(fs::exists(out + "a(1).mp3"));
    EXPECT_EQ(Status(0), "Completed");
}

TEST_F(WindowBehaviourTest, TheOutputColumnShowsTheNameWritten) {
    const std::string name = std::string(60, 'x') + " part 07";
    const std::string song = MakeRealAudio144(dir, name + ".ra", 0.3);
    AddThroughDialog({song});
    EXPECT_EQ(Cell(0, colOutputFilename), name + ".mp3");
    // The name is taken after adding: the run writes the next free one and says so.
    std::ofstream(out + name + ".mp3") << "mine";
    RunToEnd();
    EXPECT_EQ(Cell(0, colOutputFilename), name + "(1).mp3");
    EXPECT_TRUE(Tip(0, colOutputFilename).contains(QString::fromStdString(out + name + "(1).mp3")));
    EXPECT_EQ(ReadFileBytes(out + name + ".mp3"), "mine");
    EXPECT_TRUE(DecodeMp3(out + name + "(1).mp3").ok);
    // Long names keep both ends in sight.
    EXPECT_EQ(form->Lvw->textElideMode(), Qt::ElideMiddle);
}

TEST_F(WindowBehaviourTest, TheListFollowsTheFileBeingConverted) {
    const std::string file = MakeRealAudio144(dir, "short.ra", 0.2);
    std::vector<std::string> files(30, file);
    AddThroughDialog(files);
    ASSERT_EQ(Rows(), 30);
    form->Lvw->scrollToTop();
    const QRect last = form->Lvw->visualRect(form->Lvw->model()->index(29, 0));
    ASSERT_FALSE(form->Lvw->viewport()->rect().contains(last));  // out of sight at first
    form->Engine().SetProgressInterval(100);
    RunToEnd();
    EXPECT_EQ(Status(29), "Completed");
    EXPECT_TRUE(form->Lvw->viewport()->rect().intersects(form->Lvw->visualRect(form->Lvw->model()->index(29, 0))));
}

// Two files at once: each row has its own progress, the shorter one ends
// first, the batch line counts both, and the names stay apart.
TEST_F(WindowBehaviourTest, TwoFilesAtOnce) {
    form->SpnSimultaneous->setValue(2);
    form->Engine().SetProgressInterval(100);
    const std::string lo = MakeRealAc3(dir, "long.rm", 120.0, 32000, 1, {440});
    const std::string hi = MakeRealAc3(dir, "short.rm", 15.0, 32000, 1, {1500});
    AddThroughDialog({lo, hi});
    form->BtnStart->click();
    bool bothSeen = false, shortFirst = false;
    ASSERT_TRUE(WaitUntil([&] {
        const std::string line = form->LblBatch->text().toStdString();
        bothSeen = bothSeen || line.rfind("Files 1\u20132 of 2", 0) == 0;
        if (Status(1) == "Completed" && Status(0).find("% Completed") != std::string::npos) shortFirst = true;
        return !form->RunGoing();
    }));
    EXPECT_TRUE(bothSeen);
    EXPECT_TRUE(shortFirst) << Status(0) << " / " << Status(1);
    EXPECT_EQ(form->PbBatch->value(), 100);
    EXPECT_EQ(form->BatchProgress().Ended(), 2);
    const DecodedAudio a = DecodeMp3(out + "long.mp3"), b = DecodeMp3(out + "short.mp3");
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_NEAR(a.Seconds(), 120.0, 0.2);
    EXPECT_NEAR(DominantFrequency(b.Channel(0), b.rate), 1500, 8);
    ASSERT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_NE(dialogs.Summaries[0].Text.find("2 files: 2 converted, 0 failed."), std::string::npos);
}

TEST_F(WindowBehaviourTest, StopStopsEveryFileConverting) {
    form->SpnSimultaneous->setValue(2);
    form->Engine().SetProgressInterval(100);
    const std::string lo = MakeRealAc3(dir, "long.rm", 300.0, 32000, 1, {440});
    AddThroughDialog({lo, lo, MakeRealAudio144(dir, "third.ra", 0.3)});
    form->BtnStart->click();
    ASSERT_TRUE(WaitUntil([&] {
        return Status(0).find("% Completed") != std::string::npos && Status(1).find("% Completed") != std::string::npos;
    }));
    form->BtnStart->click();
    EXPECT_TRUE(KeptShorter(Status(0))) << Status(0);
    EXPECT_TRUE(KeptShorter(Status(1))) << Status(1);
    EXPECT_EQ(Status(2), " ");
    EXPECT_FALSE(form->RunGoing());
    EXPECT_EQ(form->Engine().TaskCount(), 0);
    EXPECT_EQ(dialogs.Summaries.size(), 1u);
    EXPECT_EQ(form->Summary().Count(TFileOutcome::Stopped), 2);
    EXPECT_EQ(form->Summary().Count(TFileOutcome::NotStarted), 1);
    // The two stopped files kept what they had under names of their own.
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(out + "long.mp3") && fs::exists(out + "long(1).mp3"); }));
}

TEST_F(WindowBehaviourTest, ALongBatchEndsWithANotificationWhenTheWindowIsAway) {
    const std::string a = MakeRealAudio144(dir, "a.ra", 0.3);
    const std::string silent = MakeRealVideo(dir, "video-only.rm", 0.3, "rv10", RealAudio::None);
    AddThroughDialog({a, silent});
    struct TCase {
        const char* name;
        int64_t after;
        bool active;
        size_t notes;
    } cases[] = {
        {"short batch", 3600000, false, 0},
        {"long batch, window active", 0, true, 0},
        {"long batch, window away", 0, false, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClearOutput();
        dialogs.Notifications.clear();
        form->NotifyAfterMs = c.after;
        QApplication::setActiveWindow(c.active ? form.get() : nullptr);
        ASSERT_EQ(form->isActiveWindow(), c.active);
        RunToEnd();
        ASSERT_EQ(dialogs.Notifications.size(), c.notes);
        if (c.notes == 0) continue;
        EXPECT_EQ(dialogs.Notifications[0].first, "Conversion finished");
        // Only the failed row is converted again after the first run.
        EXPECT_EQ(dialogs.Notifications[0].second, "0 of 1 files converted, 1 failed.");
    }
}

TEST_F(WindowBehaviourTest, ChoosersOpenWhereTheUserWasLast) {
    fs::create_directories(dir.File("radio"));
    const std::string a = MakeRealAudio144(dir, "radio/a.ra", 0.3);
    form->BtnAdd->click();  // cancelled: nothing remembered
    AddThroughDialog({a});
    form->BtnAdd->click();
    EXPECT_EQ(dialogs.FileFolders, (std::vector<std::string>{"", "", dir.File("radio")}));
    form->BtnChangeOutputFolder->click();
    EXPECT_EQ(dialogs.FolderStarts, std::vector<std::string>{out});
    // Kept in the settings file for the next start.
    Destroy();
    EXPECT_NE(SettingsText().find("LastAddFolder=" + dir.File("radio") + "\n"), std::string::npos) << SettingsText();
    ASSERT_TRUE(Create());
    form->BtnAdd->click();
    EXPECT_EQ(dialogs.FileFolders.back(), dir.File("radio"));
}

// The desktop's summary window: not modal, its text as written, all of it copied.
TEST_F(WindowBehaviourTest, TheSummaryWindowCanBeCopied) {
    const std::string text = "File conversion process finished.\n1 file: 0 converted, 1 failed.\n\nFailed:\n"
                             "  /music/<b>odd</b> & name.rm: Output file #0 does not contain any stream\n";
    TQtDialogs desktop;
    desktop.ShowSummary(form.get(), "Ardentix: conversion finished", text, "/music/out");
    QCoreApplication::processEvents();
    auto* summary = form->findChild<TSummaryDialog*>();
    ASSERT_NE(summary, nullptr);
    EXPECT_FALSE(summary->isModal());
    EXPECT_TRUE(summary->isVisible());
    EXPECT_TRUE(summary->Text->isReadOnly());
    EXPECT_EQ(summary->Text->toPlainText().toStdString(), text);
    summary->BtnCopy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text);
    EXPECT_FALSE(summary->BtnOpenFolder->isHidden());
    EXPECT_EQ(summary->BtnOpenFolder->toolTip(), "/music/out");
    // The window goes on while it is up, and it goes when closed.
    EXPECT_TRUE(form->BtnAdd->isEnabled());
    summary->BtnClose->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(form->findChild<TSummaryDialog*>(), nullptr);
}

TEST_F(WindowBehaviourTest, TheGuideCountsAsOpenOnlyWhenTheOpenerSucceeds) {
    // A stand-in for the desktop's opener on the PATH: its exit status, or still at work.
    const struct {
        const char* name;
        const char* script;  // empty: no opener at all
        bool opened;
    } cases[] = {
        {"opens", "exit 0", true},
        {"no method available", "echo 'xdg-open: no method available for opening' >&2; exit 3", false},
        {"still at work", "exec /bin/sleep 3", true},
        {"missing", "", false},
    };
    const char* const old_path = std::getenv("PATH");
    const std::string saved = old_path ? old_path : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bin = dir.File(std::string("bin-") + (c.script[0] ? "x" : "none") + c.name[0]);
        fs::create_directories(bin);
        if (c.script[0]) {
            std::ofstream(bin + "/xdg-open") << "#!/bin/sh\n" << c.script << "\n";
            fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
        }
        ::setenv("PATH", (bin + ":/nonexistent").c_str(), 1);
        TQtDialogs desktop;
        EXPECT_EQ(desktop.OpenDocument(dir.File("help.html")), c.opened);
    }
    ::setenv("PATH", saved.c_str(), 1);
}
