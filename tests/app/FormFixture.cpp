#include "tests/app/FormFixture.h"

#include <QThread>

#include <filesystem>
#include <fstream>
#include <thread>

namespace apptest {

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void TRecordingDialogs::ShowMessage(QWidget*, const std::string& text, const std::string& title,
                                    TMessageIcon icon) {
    TShownMessage m{text, title, icon, Form && Form->BtnStart ? Caption(Form->BtnStart) : ""};
    Messages.push_back(m);
    if (OnMessage) OnMessage(m);
}

int TRecordingDialogs::Ask(QWidget*, const std::string& text, const std::string& title,
                           const std::vector<std::string>& buttons) {
    Questions.push_back({text, title, buttons});
    if (AskAnswers.empty()) return 0;
    const int a = AskAnswers.front();
    AskAnswers.pop_front();
    return a;
}

void TRecordingDialogs::ShowSummary(QWidget*, const std::string& title, const std::string& text,
                                    const std::string& folder) {
    Summaries.push_back({title, text, Form && Form->BtnStart ? Caption(Form->BtnStart) : "",
                         Shutdown ? Shutdown->Calls : 0, folder});
}

void TRecordingDialogs::Notify(const std::string& title, const std::string& text) {
    Notifications.emplace_back(title, text);
}

std::vector<std::string> TRecordingDialogs::ChooseFiles(QWidget*, const std::string& title, const std::string& filter,
                                                        const std::string& folder) {
    FileTitles.push_back(title);
    FileFilters.push_back(filter);
    FileFolders.push_back(folder);
    if (FileAnswers.empty()) return {};
    auto a = FileAnswers.front();
    FileAnswers.pop_front();
    return a;
}

std::string TRecordingDialogs::ChooseFolder(QWidget*, const std::string& prompt, const std::string& folder) {
    FolderPrompts.push_back(prompt);
    FolderStarts.push_back(folder);
    if (FolderAnswers.empty()) return {};
    auto a = FolderAnswers.front();
    FolderAnswers.pop_front();
    return a;
}

void TRecordingShutdown::PowerOff() {
    ++Calls;
    MessagesBefore = Dialogs ? Dialogs->Messages.size() : 0;
}

FormTest::FormTest() {
    App();
    shutdown.Dialogs = &dialogs;
    dialogs.Shutdown = &shutdown;
    std::filesystem::create_directories(dir.File("prog"));
}

FormTest::~FormTest() { Destroy(); }

TAppPaths FormTest::Paths() const {
    TAppPaths p;
    p.SettingsFile = dir.File("config/Ardentix/Options.ini");
    p.Folders = {dir.File("music") + "/", dir.File("videos") + "/"};
    p.ProgramFolder = dir.File("prog") + "/";
    return p;
}

void FormTest::WriteSettingsText(const std::string& text) const {
    const std::string path = Paths().SettingsFile;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string FormTest::SettingsText(bool layout) const {
    std::ifstream in(Paths().SettingsFile, std::ios::binary);
    std::string text;
    for (std::string line; std::getline(in, line);)
        if (layout || (line.rfind("WindowSize=", 0) != 0 && line.rfind("ColumnWidths=", 0) != 0)) text += line + "\n";
    return text;
}

bool FormTest::Create() {
    form = std::make_unique<TForm1>(dialogs, shutdown, Paths());
    dialogs.Form = form.get();
    return form->FormCreate();
}

void FormTest::Destroy() {
    if (!form) return;
    form->close();
    form.reset();
    dialogs.Form = nullptr;
}

void FormTest::AddThroughDialog(const std::vector<std::string>& files) {
    dialogs.FileAnswers.push_back(files);
    form->BtnAdd->click();
    WaitRead();
}

void FormTest::WaitRead() { WaitUntil([&] { return !form->ReadingFiles(); }); }

bool FormTest::WaitUntil(const std::function<bool()>& pred, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "the window did not get there in time";
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void FormTest::RunToEnd() {
    form->BtnStart->click();
    WaitUntil([&] { return !form->RunGoing(); });
}

std::string FormTest::Cell(int row, int column) const {
    const QAbstractItemModel* rows = form->Lvw->model();
    if (row < 0 || row >= rows->rowCount()) return "<none>";
    return rows->index(row, column).data().toString().toStdString();
}

QString FormTest::Tip(int row, int column) const {
    return form->Lvw->model()->index(row, column).data(Qt::ToolTipRole).toString();
}

void FormTest::SelectRow(int row) {
    form->Lvw->clearSelection();
    if (row >= 0) form->Lvw->selectRow(row);
}

std::vector<std::string> FormTest::MessageTexts() const {
    std::vector<std::string> t;
    for (const auto& m : dialogs.Messages) t.push_back(m.Text);
    return t;
}

}  // namespace apptest
