#pragma once
// Drives the converter window headless: recorders in place of the message boxes,
// choosers, document opener and shutdown, and a window whose files all live in a
// temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "app/JobList.h"
#include "app/Seams.h"
#include "tests/common/Fixtures.h"

namespace apptest {

// One QApplication for the whole test program.
QApplication& App();

struct TShownMessage {
    std::string Text;
    std::string Title;
    TMessageIcon Icon;
    std::string StartCaption;  // the Convert/Stop caption while the box was up
};

class TRecordingDialogs : public IUserDialogs {
public:
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                     TMessageIcon icon) override;
    int Ask(QWidget*, const std::string& text, const std::string& title,
            const std::vector<std::string>& buttons) override;
    void ShowSummary(QWidget*, const std::string& title, const std::string& text, const std::string& folder) override;
    std::vector<std::string> ChooseFiles(QWidget*, const std::string& title, const std::string& filter,
                                         const std::string& folder) override;
    std::string ChooseFolder(QWidget*, const std::string& prompt, const std::string& folder) override;
    bool OpenDocument(const std::string& path) override {
        Opened.push_back(path);
        return CanOpen;
    }
    void Notify(const std::string& title, const std::string& text) override;

    std::vector<TShownMessage> Messages;
    std::deque<std::vector<std::string>> FileAnswers;  // next answers of ChooseFiles
    std::deque<std::string> FolderAnswers;             // next answers of ChooseFolder
    std::deque<int> AskAnswers;                        // next answers of Ask; 0 when none is left
    bool CanOpen = true;                               // the desktop has a program for documents
    std::vector<std::string> FileTitles, FileFilters, FileFolders, FolderPrompts, FolderStarts, Opened;
    struct TQuestion {
        std::string Text, Title;
        std::vector<std::string> Buttons;
    };
    std::vector<TQuestion> Questions;
    struct TSummary {
        std::string Title, Text;
        std::string StartCaption;  // the Convert/Stop caption when it was shown
        int PowerOffsBefore = 0;   // shutdowns asked for before it was shown
        std::string Folder;        // what "Open folder" shows
    };
    std::vector<TSummary> Summaries;
    std::vector<std::pair<std::string, std::string>> Notifications;  // title, text
    class TRecordingShutdown* Shutdown = nullptr;
    // Called while a box is "up" (the window's state can be looked at then).
    std::function<void(const TShownMessage&)> OnMessage;
    TForm1* Form = nullptr;
};

class TRecordingShutdown : public IShutdown {
public:
    void PowerOff() override;
    int Calls = 0;
    size_t MessagesBefore = 0;  // boxes shown before the call
    TRecordingDialogs* Dialogs = nullptr;
};

// A caption as it reads, without its mnemonic mark.
inline std::string Caption(const QAbstractButton* b) { return b->text().remove('&').toStdString(); }
inline std::string Caption(const QLabel* l) { return l->text().remove('&').toStdString(); }

class FormTest : public ::testing::Test {
protected:
    FormTest();
    ~FormTest() override;

    // paths: the temporary layout; a settings text is written first when given.
    TAppPaths Paths() const;
    void WriteSettingsText(const std::string& text) const;
    // The settings file; without the window's size and column widths, which
    // follow the machine's fonts, unless `layout`.
    std::string SettingsText(bool layout = false) const;
    // Makes the window and runs its creation; false when it failed.
    bool Create();
    // Closes and destroys the window.
    void Destroy();

    // Adds files through the Add button and waits until they have been read.
    void AddThroughDialog(const std::vector<std::string>& files);
    // Waits until what was added has been listed, read and told.
    void WaitRead();
    // Runs the window's events until pred holds; fails the test after a long while.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::seconds limit = std::chrono::seconds(120));
    // Starts a run and waits for its end (the engine's end of run included).
    void RunToEnd();

    std::string Cell(int row, int column) const;
    QString Tip(int row, int column) const;
    int Rows() const { return form->Lvw->model()->rowCount(); }
    std::string OutputFolder() const { return form->EdtOutputFolder->text().toStdString(); }
    void SelectRow(int row);
    std::vector<std::string> MessageTexts() const;

    ardentix::test::TempDir dir;
    TRecordingDialogs dialogs;
    TRecordingShutdown shutdown;
    std::unique_ptr<TForm1> form;
};

// A window that converts into dir/out, one file at a time, never over a file
// that is there.
class RunFormTest : public FormTest {
protected:
    void SetUp() override {
        WriteSettingsText("[Options]\nOutputPath=" + out + "\nSimultaneousConversions=1\n");
        std::filesystem::create_directories(out);
        ASSERT_TRUE(Create());
    }
    std::string Status(int row) const { return Cell(row, colStatus); }
    // A stopped file's row when its shorter output was kept: "Stopped (00:00:34 of 00:05:00)".
    static bool KeptShorter(const std::string& status) {
        return std::regex_match(status, std::regex(R"(Stopped \(\d\d:\d\d:\d\d of \d\d:\d\d:\d\d\))"));
    }
    const std::string out = dir.File("out") + "/";
};

}  // namespace apptest
