#pragma once
// The converter window: the job list, the output settings, the batch run.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/FileReader.h"
#include "app/JobModel.h"
#include "app/QtWindowThread.h"
#include "app/Seams.h"
#include "app/WindowCalls.h"
#include "batch/BatchProgress.h"
#include "batch/Converter.h"
#include "batch/General.h"
#include "batch/OutputPlan.h"
#include "batch/RunSummary.h"
#include "engine/DAzaduVED.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QToolButton;
class TJobList;
struct TSettings;
struct TSettingRow;

// Where the window keeps and looks for its files.
struct TAppPaths {
    std::string SettingsFile;     // .../Ardentix/Options.ini; empty: none
    TUserFolders Folders;         // the desktop's music and videos folders, for the default output folder
    std::string ProgramFolder;    // the program's folder, ending with "/"
};
// The paths of the running program and user.
TAppPaths SystemAppPaths();

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
    void BtnAddFolderClick();
    void BtnRemoveClick();
    void BtnClearClick();
    void BtnMoveUpClick();
    void BtnMoveDownClick();
    void BtnChangeOutputFolderClick();
    void BtnStartClick();
    void BtnAboutClick();
    void BtnHelpClick();
    // Pauses the run going, or resumes the paused one.
    void BtnPauseClick();

    // Files given on the command line, chosen or dropped on the list: they are
    // listed at once and read on the reader's threads, each once; what cannot
    // be listed is told in one box when the addition has been read.
    void AddFiles(const std::vector<std::string>& paths);
    // What the last addition could not list, with why; complete once it has been read.
    const std::vector<TFileRecord>& ListingRefusals() const { return listingRefusals_; }
    // True from an addition until its files are listed and read, what could
    // not be listed has been told and the rows show their planned names.
    bool ReadingFiles() const { return !readIdle_ || planWaiting_; }

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
    TPictureSize MaxPicture() const;  // the "Largest picture" choice; 0x0 no limit
    // Everything the settings choose for a run.
    TPlanChoice PlanChoice() const;
    // The summary in words, as the box at the end of a batch shows it.
    std::string SummaryText() const;
    // A batch that took at least this long (milliseconds) is announced on the
    // desktop when it ends while the window is not the active one.
    int64_t NotifyAfterMs = 60000;
    const std::string& HelpFile() const { return helpFile_; }
    TDAzaduVED& Engine() { return *engine_; }
    // How the reader's threads read a file added (on those threads); tests hold
    // it up to look at the window meanwhile. Set before the first addition.
    // Pictures are sampled by a run that needs them: most files never go to a video kind.
    TFileReader::TRead ReadFile = [](TCustomAVProbe& probe, TListedFile& file) { ReadListedFile(probe, file, false); };

    // Controls, named as the handlers know them.
    TJobList* Lvw = nullptr;
    QPushButton *BtnAdd = nullptr, *BtnAddFolder = nullptr, *BtnRemove = nullptr, *BtnClear = nullptr,
                *BtnMoveUp = nullptr, *BtnMoveDown = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* EdtOutputFolder = nullptr;
    QPushButton* BtnChangeOutputFolder = nullptr;
    QGroupBox* GBOutput = nullptr;
    QLabel* LblFormat = nullptr;
    QComboBox* CboFormat = nullptr;  // the output kinds the window offers, in the kinds table's order
    QComboBox* CboNorm = nullptr;    // "PAL" or "NTSC", for the kinds with a TV standard
    QLabel *Label5 = nullptr, *Label6 = nullptr, *Label8 = nullptr, *Label10 = nullptr, *Label12 = nullptr;
    QComboBox *CboChannels = nullptr, *CboAudioBitrate = nullptr, *CboAudioSampleRate = nullptr;
    QLabel* LblMaxPicture = nullptr;
    QComboBox* CboMaxPicture = nullptr;  // MaxPictureChoices, for the kinds with a size limit
    QComboBox* CboQuality = nullptr;  // in the bit rate's place: Vorbis's quality or FLAC's compression
    QScrollArea* SettingsArea = nullptr;  // the two settings groups, scrolled on a small screen
    QGroupBox* GBOther = nullptr;
    QCheckBox *ChkShutdown = nullptr, *ChkCopyTags = nullptr, *ChkPreview = nullptr;
    QLabel* LblSimultaneous = nullptr;
    QSpinBox* SpnSimultaneous = nullptr;
    QPushButton *BtnStart = nullptr, *BtnAbout = nullptr, *BtnHelp = nullptr;
    QPushButton* BtnPause = nullptr;  // beside Stop during a run: "Pause", or "Resume" while paused
    QLabel* LblProgress = nullptr;
    QProgressBar* PbBatch = nullptr;  // the whole batch, by playing time
    QLabel* LblBatch = nullptr;       // the same in words: file n of N, time taken and left
    QLabel* LblCount = nullptr;       // how many files the list holds
    QLabel* LblExisting = nullptr;
    QComboBox* CboExisting = nullptr;     // ExistingOutputsItems, in the order of TExistingOutputs
    QCheckBox* ChkNextToSource = nullptr;  // each output in its source's folder; the folder row is then unused
    QCheckBox* ChkRemoveBlackBars = nullptr;  // mp4 and mkv: bars found by sampling are cut
    QLabel* LblDeinterlace = nullptr;
    QComboBox* CboDeinterlace = nullptr;  // "Automatic", "On", "Off", in TDeinterlace's order

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class TRunState { Idle, Running, Stopping };

    void BuildControls();
    QPushButton* NewButton(const char* name, const QString& caption);
    QLabel* NewLabel(const char* name, const QString& caption);
    void BuildJobList();
    void BuildListButtons();
    void BuildOutputSettings();
    void BuildOtherSettings();
    // "Remove black bars" and "Deinterlace", from the output group's line `line` on.
    void BuildPictureSettings(QGridLayout* out, int line);
    void BuildBottomRow();
    void LayOutControls();
    void ConnectControls();
    void BuildShortcuts();
    void SetAccessibleNames();
    void ReadSettingsIntoControls();
    void WriteSettingsFromControls();
    TSettings SettingsFromControls() const;
    // The controls tied to a row of the settings table each: loaded from and saved to it.
    struct TBinding {
        const TSettingRow* row;
        QWidget* control;
    };
    std::vector<TBinding> bindings_;
    void LoadBound(const TSettings& s);
    void SaveBound(TSettings& s) const;
    std::string OutputFolder() const;
    // Enables what the chosen output kind leaves to the user, and says why the rest is not.
    void ShowFormatChoice();
    void ShowPictureChoices(const TOutputKind& kind);
    // Plans the rows' names here (a choice changed: the names follow at once)
    // or on the reader (an addition: the window goes on meanwhile).
    void ShowPlannedNames();
    void PlanInBackground();
    std::vector<TListedFile> PlanInputs() const;
    void ShowPlanned(const TFileReader::TPlanned& planned);
    void SetControlsIdle(bool idle);
    void ShowStartCaption(bool running);
    // The Pause button as the run stands: its caption, and usable only while the run goes on.
    void ShowPauseState();
    // The row shows text translated; why (in the user's language already) is its tooltip.
    void SetStatus(int row, const std::string& text, const QString& why = {});
    void SetOutputName(int row, const std::string& path);
    void MoveRow(int from, int to);
    TFileId RowFile(int row) const { return jobs_->Row(row).File.Id; }
    int SelectedRow() const;
    // What the reader has found since the last look, at most `most` files of it,
    // on the window's thread.
    void TakeReadings(size_t most);
    void ShowReadFiles(std::vector<TListedFile> files);
    // The addition has been listed and read: its names are planned and what it refused told.
    void AdditionRead();
    void ShowCount();
    // True when the user agrees to convert a list of rows all "Completed" again.
    bool ConfirmConvertingAgain();
    // Every row, or (all false) only those not converted by the runs before.
    void StartRun(bool all);
    bool RowConverted(int row) const;
    void StopRun();
    void TakeRunUpdate();
    void ShowRecord(const TFileRecord& record);
    void ShowFileProgress(const TFileProgress& progress);
    void CompleteRun();
    QString RecordText(const TFileRecord& record) const;
    // The line under the list, and the bar, from the batch's progress now.
    void ShowBatchProgress();
    int64_t Now() const { return clock_.isValid() ? clock_.elapsed() : 0; }
    void Message(const std::string& text, const std::string& title, TMessageIcon icon);
    template <typename Fn> void Guarded(Fn&& fn);

    std::string ProgressLine(int slot, const TFileProgress& progress) const;
    void BuildPlaceChoices();
    void ConnectPlaceChoices();
    // The chosen folder, or the default of the kind chosen; unused next to the sources.
    void ShowOutputFolder();
    // Outputs made with other settings are not what the settings now ask for:
    // the rows that were done wait again.
    void ForgetOutcomes();

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
    QSize storedSize_;  // the window's size in the settings; invalid: none
    bool closeAgreed_ = false;  // closing during a run needs no question any more
    std::string lastAddFolder_;
    // The settings or the user set SpnSimultaneous; otherwise each run takes DefaultSimultaneous.
    bool simultaneousChosen_ = false;
    std::vector<const TOutputKind*> formats_;  // CboFormat's items
    // The audio lists shown (the MP3 record's or the video kinds', see
    // AudioListOf), and the item indexes of the set not shown.
    struct TAudioItems {
        int channels = 0, bitrate = 0, rate = 0;
    };
    TAudioList audioList_ = TAudioList::Mp3;
    TAudioItems hiddenAudio_;
    void ShowAudioList(TAudioList list);
    TAudioItems AudioItemsOf(TAudioList list) const;
    // What the last audio list chooses (CboAudioBitrate or CboQuality), and
    // the quality and compression while their lists are not shown.
    TAudioMeasure measure_ = TAudioMeasure::Bitrate;
    std::optional<int> vorbisQuality_, flacCompression_;
    void ShowAudioMeasure(TAudioMeasure measure, const QString& kind);
    std::optional<int> MeasureChoice(TAudioMeasure measure) const;

    TJobModel* jobs_ = nullptr;  // Lvw's rows
    std::unique_ptr<TFileReader> reader_;  // made at the first addition, gone before the libraries
    bool readIdle_ = true;         // the reader has listed and read every name given
    uint64_t planTicket_ = 0;      // the latest planning of the names, here or on the reader
    bool planWaiting_ = false;     // that planning runs on the reader
    bool startWhenListed_ = false;  // Convert was pressed while names were being listed
    bool unplanned_ = false;  // rows came or went since the names were planned for an addition
    std::vector<TFileRecord> listingRefusals_;
    bool stoppedRun_ = false;  // the last run ended by Stop: its line tells what was done
    std::vector<TFileRecord> refusing_;  // what the addition being read has refused so far
    std::map<TFileId, bool> lastOutcomes_;   // whether each file's last run converted it

    TRunState runState_ = TRunState::Idle;
    std::unique_ptr<TBatchRun> run_;
    // The run's files: their rows (rows stay put during a run) and their places in progress_.
    struct TRunRow {
        int row;
        int slot;
    };
    std::map<TFileId, TRunRow> runRows_;
    TBatchProgress progress_;
    TRunSummary summary_;
    class QEventLoop* stopWait_ = nullptr;  // while Stop waits for the files to end
    QElapsedTimer clock_;
    QTimer tick_;  // keeps the time in the batch line moving between progress records
    int lastShownRow_ = -1;
    std::string chosenFolder_;  // the folder the user chose, ending with "/"; empty: the kind's default
};
