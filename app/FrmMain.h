#pragma once
// The converter window: the job list, the output settings, the batch run.
#include <QWidget>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/QtWindowThread.h"
#include "app/Seams.h"
#include "app/WindowCalls.h"
#include "engine/DAzaduVED.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TJobList;

// Where the window keeps and looks for its files.
struct TAppPaths {
    std::string SettingsFile;     // .../Ardentix/Options.ini; empty: none
    std::string DocumentsFolder;  // the user's documents
    std::string ProgramFolder;    // the program's folder, ending with "/"
};
// The paths of the running program and user.
TAppPaths SystemAppPaths();

// The columns of the job list.
enum TJobColumn { colInputFilename, colDuration, colSize, colOutputFilename, colStatus, colPath, colCount };

class TForm1 : public QWidget {
    Q_OBJECT
public:
    TForm1(IUserDialogs& dialogs, IShutdown& shutdown, TAppPaths paths, QWidget* parent = nullptr);
    ~TForm1() override;

    // Reads the settings and loads the media libraries; false when the libraries
    // cannot be loaded (the user has been told and the window has gone through
    // its closing steps).
    bool FormCreate();
    // The closing steps: stop the engine, release the libraries, keep the settings.
    // Runs once, from closing the window or from destroying it.
    void FormCloseQuery();

    // The click handlers.
    void BtnAddClick();
    void BtnRemoveClick();
    void BtnClearClick();
    void BtnMoveUpClick();
    void BtnMoveDownClick();
    void BtnChangeOutputFolderClick();
    void BtnStartClick();
    void BtnAboutClick();
    void BtnHelpClick();

    // Files given on the command line or dropped on the list.
    void AddFiles(const std::vector<std::string>& paths);

    // One file made into an engine task with the window's settings; with addRow the
    // row is appended to the list. Index -1 when the file cannot be converted.
    struct TAddedFile {
        int Index = -1;
        std::string OutputPath;
    };
    TAddedFile AddFile(const std::string& path, bool addRow);

    // The handler of unhandled errors: shows the message with the application's title.
    void ApplicationException(const std::exception& error);

    // True from a start until the engine has reported the end of the run.
    bool RunGoing() const { return runState_ != TRunState::Idle; }
    const std::string& HelpFile() const { return helpFile_; }
    TDAzaduVED& Engine() { return *engine_; }

    // Controls, named as the handlers know them.
    TJobList* Lvw = nullptr;
    QPushButton *BtnAdd = nullptr, *BtnRemove = nullptr, *BtnClear = nullptr, *BtnMoveUp = nullptr,
                *BtnMoveDown = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* EdtOutputFolder = nullptr;
    QPushButton* BtnChangeOutputFolder = nullptr;
    QGroupBox* GBOutput = nullptr;
    QLabel *Label5 = nullptr, *Label6 = nullptr, *Label8 = nullptr, *Label10 = nullptr, *Label12 = nullptr;
    QComboBox *CboChannels = nullptr, *CboAudioBitrate = nullptr, *CboAudioSampleRate = nullptr;
    QGroupBox* GBOther = nullptr;
    QCheckBox *ChkOverwrite = nullptr, *ChkShutdown = nullptr;
    QPushButton *BtnStart = nullptr, *BtnAbout = nullptr, *BtnHelp = nullptr;
    QLabel* LblProgress = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class TRunState { Idle, Running, Finishing };
    struct TRunTask {
        int Row = -1;
    };

    void BuildControls();
    void AttachEngine();
    void ReadSettingsIntoControls();
    void WriteSettingsFromControls();
    void CreateOutputFolder() const;
    std::string OutputFolder() const;
    void SetControlsIdle(bool idle);
    void SetStatus(int row, const QString& text);
    std::string CellText(int row, int column) const;
    void MoveRow(int from, int to);
    void AddDroppedOrGivenFiles(const std::vector<std::string>& paths);
    void DropTestTask(const TAddedFile& added);
    void CompleteRun();
    void Message(const QString& text, const QString& title, TMessageIcon icon);
    template <typename Fn> void Guarded(Fn&& fn);

    // The engine's events, on the window's thread.
    void ProgressHandler(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, int ATotalOutputDuration);
    QString CompletedStatusText(int AIndex) const;
    void TerminateHandler(int AIndex, bool AFinished, bool AException, const std::string& AMessage);

    IUserDialogs& dialogs_;
    IShutdown& shutdown_;
    TAppPaths paths_;
    std::string helpFile_;
    // The window thread outlives the engine, which uses it until it is gone.
    TQtWindowThread windowThread_;
    std::unique_ptr<TDAzaduVED> engine_;
    TWindowCalls calls_{this};
    bool closed_ = false;
    bool centred_ = false;

    TRunState runState_ = TRunState::Idle;
    int completedCount_ = 0;
    size_t endedCount_ = 0;
    std::vector<TRunTask> runTasks_;
    std::set<std::string> runOutputs_;
};
