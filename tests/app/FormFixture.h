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
#include <QPushButton>
#include <QTableWidget>

#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
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
    std::vector<std::string> ChooseFiles(QWidget*, const std::string& title, const std::string& filter) override;
    std::string ChooseFolder(QWidget*, const std::string& prompt) override;
    void OpenDocument(const std::string& path) override { Opened.push_back(path); }

    std::vector<TShownMessage> Messages;
    std::deque<std::vector<std::string>> FileAnswers;  // next answers of ChooseFiles
    std::deque<std::string> FolderAnswers;             // next answers of ChooseFolder
    std::vector<std::string> FileTitles, FileFilters, FolderPrompts, Opened;
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

class FormTest : public ::testing::Test {
protected:
    FormTest();
    ~FormTest() override;

    // paths: the temporary layout; a settings text is written first when given.
    TAppPaths Paths() const;
    void WriteSettingsText(const std::string& text) const;
    std::string SettingsText() const;
    // Makes the window and runs its creation; false when it failed.
    bool Create();
    // Closes and destroys the window.
    void Destroy();

    // Adds files through the Add button.
    void AddThroughDialog(const std::vector<std::string>& files);
    // Runs the window's events until pred holds; fails the test after a long while.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::seconds limit = std::chrono::seconds(120));
    // Starts a run and waits for its end (the engine's end of run included).
    void RunToEnd();

    std::string Cell(int row, int column) const;
    int Rows() const { return form->Lvw->rowCount(); }
    std::string OutputFolder() const { return form->EdtOutputFolder->text().toStdString(); }
    void SelectRow(int row);
    std::vector<std::string> MessageTexts() const;

    ardentix::test::TempDir dir;
    TRecordingDialogs dialogs;
    TRecordingShutdown shutdown;
    std::unique_ptr<TForm1> form;
};

}  // namespace apptest
