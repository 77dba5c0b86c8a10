#pragma once
// The converter window: the job list, the output settings, the batch run.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/QtWindowThread.h"
#include "app/Seams.h"
#include "app/WindowCalls.h"
#include "batch/BatchProgress.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"
#include "engine/DAzaduVED.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
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
    // row is appended to the list (a file refused is then reported in a box).
    // Index -1 when the file cannot be converted, with the reason in Error.
    struct TAddedFile {
        int Index = -1;
        std::string OutputPath;
        std::string Error;
        int64_t DurationUs = -1;  // what the probe read; -1 unknown
    };
    TAddedFile AddFile(const std::string& path, bool addRow);

    // The handler of unhandled errors: shows the message with the application's title.
    void ApplicationException(const std::exception& error);

    // True from a start until the engine has reported the end of the run.
    bool RunGoing() const { return runState_ != TRunState::Idle; }
    // Closes without asking, also during a run (the desktop ends the session).
    void CloseWithoutAsking();
    // Files converted at once: the setting, within 1 to the number of processors.
    int SimultaneousConversions() const;
    // The batch's progress and, once it has ended, what became of each file.
    const TBatchProgress& BatchProgress() const { return progress_; }
    const TRunSummary& Summary() const { return summary_; }
    // The output kind chosen, and its TV standard ("pal", "ntsc"; "" for kinds without one).
    TOutputChoice OutputChoice() const;
    // The summary in words, as the box at the end of a batch shows it.
    std::string SummaryText() const;
    // A batch that took at least this long (milliseconds) is announced on the
    // desktop when it ends while the window is not the active one.
    int64_t NotifyAfterMs = 60000;
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
    QLabel* LblFormat = nullptr;
    QComboBox* CboFormat = nullptr;  // the output kinds the window offers, in the kinds table's order
    QComboBox* CboNorm = nullptr;    // "PAL" or "NTSC", for the kinds with a TV standard
    QLabel *Label5 = nullptr, *Label6 = nullptr, *Label8 = nullptr, *Label10 = nullptr, *Label12 = nullptr;
    QComboBox *CboChannels = nullptr, *CboAudioBitrate = nullptr, *CboAudioSampleRate = nullptr;
    QGroupBox* GBOther = nullptr;
    QCheckBox *ChkOverwrite = nullptr, *ChkShutdown = nullptr, *ChkCopyTags = nullptr, *ChkPreview = nullptr;
    QLabel* LblSimultaneous = nullptr;
    QSpinBox* SpnSimultaneous = nullptr;
    QPushButton *BtnStart = nullptr, *BtnAbout = nullptr, *BtnHelp = nullptr;
    QLabel* LblProgress = nullptr;
    QProgressBar* PbBatch = nullptr;  // the whole batch, by playing time
    QLabel* LblBatch = nullptr;       // the same in words: file n of N, time taken and left

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class TRunState { Idle, Running, Finishing };
    struct TRunTask {
        int Row = -1;
        bool Ended = false;
    };

    void BuildControls();
    void BuildShortcuts();
    void SetAccessibleNames();
    void AttachEngine();
    void ReadSettingsIntoControls();
    void WriteSettingsFromControls();
    void CreateOutputFolder() const;
    std::string OutputFolder() const;
    TPlanChoice PlanChoice() const;
    // Enables what the chosen output kind leaves to the user, and says why the rest is not.
    void ShowFormatChoice();
    void SetControlsIdle(bool idle);
    void ShowStartCaption(bool running);
    void SetStatus(int row, const std::string& text, const std::string& why = "");
    void SetOutputName(int row, const std::string& path);
    std::string CellText(int row, int column) const;
    void MoveRow(int from, int to);
    void AddDroppedOrGivenFiles(const std::vector<std::string>& paths);
    void DropTestTask(const TAddedFile& added);
    // True when the user agrees to convert a list of rows all "Completed" again.
    bool ConfirmConvertingAgain();
    void StartRun();
    void StopRun();
    void CompleteRun();
    // The line under the list, and the bar, from the batch's progress now.
    void ShowBatchProgress();
    int64_t Now() const { return clock_.isValid() ? clock_.elapsed() : 0; }
    void Message(const std::string& text, const std::string& title, TMessageIcon icon);
    template <typename Fn> void Guarded(Fn&& fn);

    // The engine's events, on the window's thread.
    void ProgressHandler(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, int ATotalOutputDuration);
    std::string ProgressLine(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                             int ATotalOutputDuration) const;
    std::string ShortfallText(int AIndex) const;
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
    bool closeAgreed_ = false;  // closing during a run needs no question any more
    std::string lastAddFolder_;
    std::vector<const TOutputKind*> formats_;  // CboFormat's items

    TRunState runState_ = TRunState::Idle;
    int completedCount_ = 0;
    size_t endedCount_ = 0;
    int threadCount_ = 1;  // files converted at once in this run
    std::vector<TRunTask> runTasks_;
    std::set<std::string> runOutputs_;
    TBatchProgress progress_;
    TRunSummary summary_;
    std::vector<TSummaryEntry> rowResults_;  // what became of each row's file in this run
    QElapsedTimer clock_;
    QTimer tick_;  // keeps the time in the batch line moving between progress records
    int lastShownRow_ = -1;
};
