#include "app/FrmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableWidgetItem>
#include <QVBoxLayout>

#include <cstdlib>
#include <filesystem>

#include "app/FrmAbout.h"
#include "app/General.h"
#include "app/JobList.h"
#include "app/Logo.h"
#include "app/QtDialogs.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "core/FFmpegException.h"
#include "core/OutputPlace.h"
#include "probe/LinkFile.h"

namespace fs = std::filesystem;

namespace {

const char* const AppTitle = "Ardentix";

// The open dialog's filter: translated names, the patterns as they are.
std::string OpenFilter() {
    return (QCoreApplication::translate("TForm1", "Real Media Files") +
            "(*.ra;*.ram;*.rm;*.rmj;rms;*.rmvb) (*.ra *.ram *.rm *.rmj rms *.rmvb);;" +
            QCoreApplication::translate("TForm1", "All Files") + "(*.*) (*)")
        .toStdString();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TAppPaths SystemAppPaths() {
    TAppPaths p;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    p.SettingsFile = SettingsFilePath(xdg ? xdg : "", home && *home ? home : QDir::homePath().toStdString());
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath();
    p.DocumentsFolder = IncludeTrailingSeparator(docs.toStdString());
    p.ProgramFolder = IncludeTrailingSeparator(QCoreApplication::applicationDirPath().toStdString());
    return p;
}

TForm1::TForm1(IUserDialogs& dialogs, IShutdown& shutdown, TAppPaths paths, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), shutdown_(shutdown), paths_(std::move(paths)) {
    setObjectName("Form1");
    setWindowTitle(AppTitle);
    setWindowIcon(MakeAppIcon());
    // The shipped guide, in the user's language where there is one, sits beside the
    // program or in the shared data of an installation.
    helpFile_ = LocalisedFile(paths_.ProgramFolder, "help", ".html");
    const std::string installed = LocalisedFile(paths_.ProgramFolder + "../share/ardentix/", "help", ".html");
    if (helpFile_.empty() && !installed.empty()) helpFile_ = fs::weakly_canonical(installed).string();
    if (helpFile_.empty()) helpFile_ = paths_.ProgramFolder + "help.html";
    BuildControls();
    engine_ = std::make_unique<TDAzaduVED>(&windowThread_);
    AttachEngine();
}

TForm1::~TForm1() {
    FormCloseQuery();
    // The engine goes first: its workers may still hold routines meant for this window.
    engine_.reset();
}

void TForm1::BuildControls() {
    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [this](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        return l;
    };

    Lvw = new TJobList(this);
    Lvw->setObjectName("Lvw");
    Lvw->setColumnCount(colCount);
    Lvw->setHorizontalHeaderLabels(
        {tr("Input Filename"), tr("Duration"), tr("Size(Bytes)"), tr("Output Filename"), tr("Status"), tr("Path")});
    Lvw->setSelectionBehavior(QAbstractItemView::SelectRows);
    Lvw->setSelectionMode(QAbstractItemView::SingleSelection);
    Lvw->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Lvw->setShowGrid(true);
    Lvw->setWordWrap(false);
    Lvw->setAlternatingRowColors(true);
    Lvw->verticalHeader()->hide();
    Lvw->horizontalHeader()->setHighlightSections(false);
    Lvw->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The classic widths were made for an 8 point font; they grow with the font in use.
    const double scale = std::max(1.0, fontMetrics().averageCharWidth() / 5.0);
    const int widths[] = {150, 80, 80, 150, 93};
    int total = 0;
    for (int c = 0; c < colPath; ++c) {
        // A caption longer in the user's language than in English widens its column.
        const int caption = Lvw->horizontalHeader()->fontMetrics().horizontalAdvance(
                                Lvw->horizontalHeaderItem(c)->text()) + 24;
        Lvw->setColumnWidth(c, std::max(static_cast<int>(widths[c] * scale), caption));
        total += Lvw->columnWidth(c);
    }
    Lvw->setColumnHidden(colPath, true);
    // Status takes what is left of the width; rows are compact but not cramped.
    Lvw->horizontalHeader()->setStretchLastSection(true);
    Lvw->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Lvw->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    Lvw->setMinimumSize(total + 2 * Lvw->frameWidth() + 4, fontMetrics().height() * 16);
    connect(Lvw, &TJobList::FilesDropped, this, [this](const QStringList& files) {
        std::vector<std::string> paths;
        for (const QString& f : files) paths.push_back(f.toStdString());
        Guarded([&] { AddFiles(paths); });
    });

    BtnAdd = button("BtnAdd", tr("Add"));
    BtnRemove = button("BtnRemove", tr("Remove"));
    BtnClear = button("BtnClear", tr("Clear"));
    BtnMoveUp = button("BtnMoveUp", tr("Move Up"));
    BtnMoveDown = button("BtnMoveDown", tr("Move Down"));

    Label1 = label("Label1", tr("Output Folder: "));
    EdtOutputFolder = new QLineEdit(this);
    EdtOutputFolder->setObjectName("EdtOutputFolder");
    EdtOutputFolder->setReadOnly(true);
    BtnChangeOutputFolder = button("BtnChangeOutputFolder", "...");
    BtnChangeOutputFolder->setToolTip(tr("Please select output folder"));
    BtnChangeOutputFolder->setFixedWidth(BtnChangeOutputFolder->fontMetrics().horizontalAdvance("...") * 3 + 12);

    GBOutput = new QGroupBox(tr("Output Settings"), this);
    GBOutput->setObjectName("GBOutput");
    Label5 = label("Label5", tr("Audio Channels: "));
    Label6 = label("Label6", tr("Audio Bitrate: "));
    Label8 = label("Label8", tr("kbps"));
    Label10 = label("Label10", tr("Audio Sample Rate: "));
    Label12 = label("Label12", tr("Hz"));
    CboChannels = new QComboBox(this);
    CboChannels->setObjectName("CboChannels");
    CboChannels->addItems({tr("1 Channel, Mono"), tr("2 Channels, Stereo")});
    CboChannels->setCurrentIndex(1);
    CboAudioBitrate = new QComboBox(this);
    CboAudioBitrate->setObjectName("CboAudioBitrate");
    CboAudioBitrate->addItems(
        {"16", "32", "48", "64", "80", "96", "112", "128", "160", "192", "224", "256", "288", "320"});
    CboAudioBitrate->setCurrentIndex(11);
    CboAudioSampleRate = new QComboBox(this);
    CboAudioSampleRate->setObjectName("CboAudioSampleRate");
    CboAudioSampleRate->addItems({"8000", "16000", "22050", "32000", "44100", "48000"});
    CboAudioSampleRate->setCurrentIndex(4);
    auto* out = new QGridLayout(GBOutput);
    out->addWidget(Label5, 0, 0);
    out->addWidget(CboChannels, 0, 1, 1, 2);
    out->addWidget(Label6, 1, 0);
    out->addWidget(CboAudioBitrate, 1, 1);
    out->addWidget(Label8, 1, 2);
    out->addWidget(Label10, 2, 0);
    out->addWidget(CboAudioSampleRate, 2, 1);
    out->addWidget(Label12, 2, 2);
    out->setColumnStretch(1, 1);

    GBOther = new QGroupBox(tr("Other Settings"), this);
    GBOther->setObjectName("GBOther");
    ChkOverwrite = new QCheckBox(tr("Overwrite existing files"), this);
    ChkOverwrite->setObjectName("ChkOverwrite");
    ChkShutdown = new QCheckBox(tr("Shut down computer when completed"), this);
    ChkShutdown->setObjectName("ChkShutdown");
    auto* other = new QVBoxLayout(GBOther);
    other->addWidget(ChkOverwrite);
    other->addWidget(ChkShutdown);
    other->addStretch(1);

    BtnStart = button("BtnStart", tr("Convert"));
    BtnStart->setDefault(true);
    QFont bold = BtnStart->font();
    bold.setBold(true);
    BtnStart->setFont(bold);
    BtnAbout = button("BtnAbout", tr("About"));
    BtnHelp = button("BtnHelp", tr("Help"));
    LblProgress = label("LblProgress", "");
    LblProgress->hide();
    // The line keeps its place when hidden, so the fixed window never jumps.
    QSizePolicy keep = LblProgress->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    LblProgress->setSizePolicy(keep);
    LblProgress->setMinimumHeight(fontMetrics().height());

    // Layout: list with its buttons, output folder, the two groups, progress, bottom row.
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {BtnAdd, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown}) side->addWidget(b);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(Lvw, 1);
    top->addLayout(side);

    auto* folder = new QHBoxLayout;
    folder->addWidget(Label1);
    folder->addWidget(EdtOutputFolder, 1);
    folder->addWidget(BtnChangeOutputFolder);

    auto* groups = new QHBoxLayout;
    groups->addWidget(GBOutput, 1);
    groups->addWidget(GBOther, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(BtnStart);
    bottom->addWidget(LblProgress, 1);
    bottom->addWidget(BtnAbout);
    bottom->addWidget(BtnHelp);

    auto* main = new QVBoxLayout(this);
    main->addLayout(top, 1);
    main->addLayout(folder);
    main->addLayout(groups);
    main->addLayout(bottom);
    // A fixed dialog: the size the contents ask for, not resizable.
    main->setSizeConstraint(QLayout::SetFixedSize);

    const int minButton = fontMetrics().horizontalAdvance(BtnMoveDown->text()) + 32;
    for (QPushButton* b : {BtnAdd, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown, BtnStart, BtnAbout, BtnHelp})
        b->setMinimumWidth(minButton);

    auto click = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    click(BtnAdd, &TForm1::BtnAddClick);
    click(BtnRemove, &TForm1::BtnRemoveClick);
    click(BtnClear, &TForm1::BtnClearClick);
    click(BtnMoveUp, &TForm1::BtnMoveUpClick);
    click(BtnMoveDown, &TForm1::BtnMoveDownClick);
    click(BtnChangeOutputFolder, &TForm1::BtnChangeOutputFolderClick);
    click(BtnStart, &TForm1::BtnStartClick);
    click(BtnAbout, &TForm1::BtnAboutClick);
    click(BtnHelp, &TForm1::BtnHelpClick);
}

void TForm1::AttachEngine() {
    // Raised on the worker that runs the task: the window's thread takes over.
    engine_->SetOnProgress([this](int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float, float,
                                  int64_t, int ATotalOutputDuration) {
        calls_.Post([=, this] {
            Guarded([&] { ProgressHandler(AIndex, AFrameNumber, AFPS, ACurrentDuration, ATotalOutputDuration); });
        });
    });
    engine_->SetOnTerminate([this](int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
        auto handle = [=, this] { Guarded([&] { TerminateHandler(AIndex, AFinished, AException, AMessage); }); };
        // A task's end holds its worker until the window has dealt with it (the
        // finished box included), so the engine's next step follows the window.
        // The end of the run only cleans up and must not hold the worker.
        if (AIndex < 0) calls_.Post(handle);
        else calls_.Send(handle);
    });
}

template <typename Fn>
void TForm1::Guarded(Fn&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ApplicationException(e);
    }
}

void TForm1::ApplicationException(const std::exception& error) {
    QString text = TranslatedMessage(error.what());
    if (!text.isEmpty() && text.back().unicode() > '.') text += '.';
    const bool coreError = dynamic_cast<const FFmpegException*>(&error) != nullptr;
    Message(text, AppTitle, coreError ? TMessageIcon::Warning : TMessageIcon::Error);
}

void TForm1::Message(const QString& text, const QString& title, TMessageIcon icon) {
    dialogs_.ShowMessage(this, text.toStdString(), title.toStdString(), icon);
}

bool TForm1::FormCreate() {
    // The stored settings are read first, so that a failed start writes them back
    // unchanged instead of replacing them with the window's initial values.
    ReadSettingsIntoControls();
    if (!engine_->LibrariesLoaded() && !engine_->LoadLibraries(paths_.ProgramFolder + "LibAV")) {
        Message(tr("%1. Please re-install the program and try it again.")
                    .arg(TranslatedMessage(engine_->LastErrorText())),
                tr("Error"), TMessageIcon::Information);
        close();
        FormCloseQuery();
        return false;
    }
    CreateOutputFolder();
    return true;
}

void TForm1::ReadSettingsIntoControls() {
    const TSettings s = ReadSettings(paths_.SettingsFile);
    EdtOutputFolder->setText(Q(s.OutputPath.empty() ? DefaultOutputFolder(paths_.DocumentsFolder)
                                                    : IncludeTrailingSeparator(s.OutputPath)));
    // An index outside its list keeps the list's default choice: a run always has
    // a value to read.
    auto select = [](QComboBox* box, int index) {
        if (index >= 0 && index < box->count()) box->setCurrentIndex(index);
    };
    const TSettings defaults;
    CboChannels->setCurrentIndex(defaults.Channels);
    CboAudioBitrate->setCurrentIndex(defaults.AudioBitrate);
    CboAudioSampleRate->setCurrentIndex(defaults.AudioSampleRate);
    select(CboChannels, s.Channels);
    select(CboAudioBitrate, s.AudioBitrate);
    select(CboAudioSampleRate, s.AudioSampleRate);
    ChkOverwrite->setChecked(s.Overwrite);
    ChkShutdown->setChecked(s.ShutdownAfterCompleted);
}

void TForm1::WriteSettingsFromControls() {
    if (paths_.SettingsFile.empty()) return;  // no home: nothing can be kept
    TSettings s;
    s.OutputPath = EdtOutputFolder->text().toStdString();
    s.Channels = CboChannels->currentIndex();
    s.AudioBitrate = CboAudioBitrate->currentIndex();
    s.AudioSampleRate = CboAudioSampleRate->currentIndex();
    s.Overwrite = ChkOverwrite->isChecked();
    s.ShutdownAfterCompleted = ChkShutdown->isChecked();
    Guarded([&] { WriteSettings(paths_.SettingsFile, s); });
}

std::string TForm1::OutputFolder() const { return EdtOutputFolder->text().toStdString(); }

void TForm1::CreateOutputFolder() const {
    std::error_code ec;
    if (!OutputFolder().empty()) fs::create_directories(OutputFolder(), ec);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();  // closing is always allowed, also during a run
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TForm1::FormCloseQuery() {
    if (closed_) return;
    closed_ = true;
    // No event reaches the window any more, and no worker waits for it.
    calls_.Close();
    engine_->SetOnLog(nullptr);
    engine_->SetOnProgress(nullptr);
    engine_->SetOnTerminate(nullptr);
    engine_->StopConvert();
    // The libraries must not go while a worker still runs in them: clearing the
    // tasks waits for it.
    engine_->ClearTasks();
    engine_->UnloadLibraries();
    runState_ = TRunState::Idle;
    WriteSettingsFromControls();
}

// ---- job list ----

std::string TForm1::CellText(int row, int column) const {
    const QTableWidgetItem* item = Lvw->item(row, column);
    return item ? item->text().toStdString() : std::string();
}

void TForm1::SetStatus(int row, const QString& text) {
    if (row < 0 || row >= Lvw->rowCount()) return;
    QTableWidgetItem* item = Lvw->item(row, colStatus);
    if (!item) Lvw->setItem(row, colStatus, item = new QTableWidgetItem);
    item->setText(text);
}

TForm1::TAddedFile TForm1::AddFile(const std::string& path, bool addRow) {
    TAddedFile added;
    std::string duration, size;
    try {
        TAVProbe& probe = engine_->Probe;
        if (probe.Open(path, "")) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            duration = DurationText(info.Duration);
            size = std::to_string(probe.GetFileSize());
            probe.Close();
        }
    } catch (const std::exception&) {
        // Without the probe's view the row has no duration and size; the task decides.
    }

    TInputOptions input;
    input.FileName = path;
    const int index = engine_->AddTask(path, &input);
    if (index < 0) {
        Message(tr("Convertion of file \"%1\" is not supported.").arg(Q(path)), tr("Error"),
                TMessageIcon::Information);
        return added;
    }

    TOutputOptions output;
    output.FileExt = ".mp3";
    output.AudioCodec = "libmp3lame";
    output.AudioChannels = CboChannels->currentIndex() == 0 ? 1 : 2;
    output.AudioBitrate = CboAudioBitrate->currentText().toInt() * 1000;
    output.AudioSampleRate = CboAudioSampleRate->currentText().toInt();
    output.Timestamp = 0.0;
    if (ChkOverwrite->isChecked()) output.ExtOptions = "y\n";

    const std::string folder = OutputFolder();
    static const std::set<std::string> none;
    const std::string name = ChooseOutputName(folder, BaseName(path), ChkOverwrite->isChecked(),
                                              addRow ? none : runOutputs_, FileExists);
    // The task writes a temporary file of its own beside this name and takes the
    // name only at its end, so a trial touches no file of the user's.
    output.FileName = folder + name + ".mp3";
    added.OutputPath = output.FileName;
    if (!engine_->SetOutputFile(index, output.FileName, &output)) {
        Message(tr("Cannot convert: %1").arg(TranslatedMessage(engine_->LastErrorText())), tr("Error"),
                TMessageIcon::Information);
        engine_->RemoveTask(index);
        return added;
    }
    added.Index = index;
    if (!addRow) {
        runOutputs_.insert(output.FileName);
        return added;
    }
    const int row = Lvw->rowCount();
    Lvw->insertRow(row);
    const std::string texts[colCount] = {FileNamePart(path), duration, size, name + ".mp3", "", path};
    for (int c = 0; c < colCount; ++c) {
        auto* item = new QTableWidgetItem(Q(texts[c]));
        if (c == colDuration || c == colSize) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (c == colInputFilename) item->setToolTip(PlainToolTip(Q(path)));
        if (c == colOutputFilename) item->setToolTip(PlainToolTip(Q(folder + texts[c])));
        Lvw->setItem(row, c, item);
    }
    return added;
}

void TForm1::DropTestTask(const TAddedFile& added) {
    // The trial task wrote nothing under any name of the user's: its temporary file goes with it.
    if (added.Index >= 0) engine_->RemoveTask(added.Index);
}

void TForm1::AddFiles(const std::vector<std::string>& paths) {
    if (runState_ == TRunState::Running) return;  // the list is only read during a run
    for (const std::string& p : paths) {
        // A link file gets rows for the local files it names, and one box for
        // what it names that cannot be converted.
        const TLinkExpansion link = ExpandLinkFile(p);
        if (!link.IsLink) {
            DropTestTask(AddFile(p, true));
            continue;
        }
        if (!link.Problems.empty()) {
            QStringList lines;
            for (const std::string& problem : link.Problems) lines << TranslatedMessage(problem);
            Message(lines.join('\n'), tr("Error"), TMessageIcon::Information);
        }
        for (const std::string& file : link.Files) DropTestTask(AddFile(file, true));
    }
    engine_->ClearTasks();
}

void TForm1::BtnAddClick() {
    const std::vector<std::string> files = dialogs_.ChooseFiles(this, tr("Choose Files to Convert").toStdString(), OpenFilter());
    if (files.empty()) return;
    AddFiles(files);
}

void TForm1::BtnRemoveClick() {
    for (int row = Lvw->rowCount() - 1; row >= 0; --row)
        if (Lvw->selectionModel()->isRowSelected(row, QModelIndex())) Lvw->removeRow(row);
}

void TForm1::BtnClearClick() {
    if (Lvw->rowCount() == 0) return;
    Lvw->setRowCount(0);
    engine_->ClearTasks();
}

void TForm1::MoveRow(int from, int to) {
    if (to < 0 || to >= Lvw->rowCount()) return;
    Lvw->setUpdatesEnabled(false);
    QList<QTableWidgetItem*> items;
    for (int c = 0; c < colCount; ++c) items << Lvw->takeItem(from, c);
    Lvw->removeRow(from);
    Lvw->insertRow(to);
    for (int c = 0; c < colCount; ++c) Lvw->setItem(to, c, items[c]);
    Lvw->setCurrentCell(to, 0);
    Lvw->selectRow(to);
    Lvw->setUpdatesEnabled(true);
    Lvw->scrollToItem(Lvw->item(to, 0), QAbstractItemView::EnsureVisible);
}

static int SelectedRow(QTableWidget* list) {
    for (int row = 0; row < list->rowCount(); ++row)
        if (list->selectionModel()->isRowSelected(row, QModelIndex())) return row;
    return -1;
}

void TForm1::BtnMoveUpClick() {
    const int row = SelectedRow(Lvw);
    if (row > 0) MoveRow(row, row - 1);
}

void TForm1::BtnMoveDownClick() {
    const int row = SelectedRow(Lvw);
    if (row >= 0 && row < Lvw->rowCount() - 1) MoveRow(row, row + 1);
}

void TForm1::BtnChangeOutputFolderClick() {
    const std::string folder = dialogs_.ChooseFolder(this, tr("Please select output folder").toStdString());
    if (folder.empty()) return;
    EdtOutputFolder->setText(Q(IncludeTrailingSeparator(folder)));
}

// ---- batch run ----

void TForm1::SetControlsIdle(bool idle) {
    for (QWidget* w : std::initializer_list<QWidget*>{BtnAdd, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown,
                                                      BtnChangeOutputFolder, BtnAbout, BtnHelp, GBOutput, GBOther})
        w->setEnabled(idle);
    LblProgress->setVisible(!idle);
    Lvw->setEnabled(true);
    Lvw->SetDropsAllowed(idle);
}

void TForm1::BtnStartClick() {
    if (BtnStart->text() == tr("Stop")) {
        // The workers are let go before the engine waits for them.
        calls_.Close();
        engine_->StopConvert();
        engine_->ClearTasks();
        SetControlsIdle(true);
        if (endedCount_ < runTasks_.size()) SetStatus(runTasks_[endedCount_].Row, tr("Stopped"));
        Lvw->viewport()->update();
        runState_ = TRunState::Idle;
        BtnStart->setText(tr("Convert"));
        return;
    }

    if (Lvw->rowCount() == 0) {
        Message(tr("Please select files to be converted."), tr("Information"), TMessageIcon::Information);
        return;
    }
    // One message for a folder that cannot take the files, rather than one per file.
    std::string why;
    if (!PrepareOutputFolder(OutputFolder(), why)) {
        Message(tr("Cannot write to the output folder \"%1\": %2.").arg(Q(OutputFolder()), TranslatedMessage(why)),
                tr("Error"), TMessageIcon::Information);
        return;
    }
    calls_.Close();  // whatever an earlier run still had queued is dropped
    for (int row = 0; row < Lvw->rowCount(); ++row) SetStatus(row, " ");
    completedCount_ = 0;
    endedCount_ = 0;
    runTasks_.clear();
    runOutputs_.clear();
    engine_->ClearTasks();
    LblProgress->clear();
    SetControlsIdle(false);
    runState_ = TRunState::Running;
    for (int row = 0; row < Lvw->rowCount(); ++row) {
        const TAddedFile added = AddFile(CellText(row, colPath), false);
        if (added.Index < 0) {
            SetStatus(row, tr("Failed"));
            continue;
        }
        // Rows are marked through their task: a file left out shifts nothing.
        if (static_cast<size_t>(added.Index) >= runTasks_.size()) runTasks_.resize(added.Index + 1);
        runTasks_[added.Index] = {row};
    }
    engine_->SetThreadPriority(tpNormal);
    BtnStart->setText(tr("Stop"));
    if (runTasks_.empty()) {
        CompleteRun();
        runState_ = TRunState::Idle;
        return;
    }
    calls_.Open();
    engine_->StartConvert(1);
}

void TForm1::CompleteRun() {
    BtnStart->setText(tr("Convert"));
    SetControlsIdle(true);
    // The engine is cleaned up when it reports the end of the run.
    runState_ = TRunState::Finishing;
    if (ChkShutdown->isChecked()) shutdown_.PowerOff();
    Message(tr("File conversion process finished."), tr("Information"), TMessageIcon::Information);
}

void TForm1::ProgressHandler(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                             int ATotalOutputDuration) {
    if (runState_ != TRunState::Running || AIndex < 0 || static_cast<size_t>(AIndex) >= runTasks_.size()) return;
    SetStatus(runTasks_[AIndex].Row, TranslatedMessage(ProgressStatusText(ACurrentDuration, ATotalOutputDuration)));
    LblProgress->setText(
        tr("Current Frame=%1 Time=%2 FPS=%3").arg(AFrameNumber).arg(ACurrentDuration / 1000).arg(AFPS));
}

// "Completed", or how much of an input that ended early was converted: a cut
// file must not pass for a whole one.
QString TForm1::CompletedStatusText(int AIndex) const {
    const TFFmpeg* task = engine_->Task(AIndex);
    if (!task || !task->EndedShort()) return tr("Completed");
    return tr("Completed (%1 of %2)")
        .arg(Q(DurationText(task->converted_ms * 1000)), Q(DurationText(task->ExpectedOutputMs() * 1000)));
}

void TForm1::TerminateHandler(int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    if (runState_ == TRunState::Idle) return;
    if (AIndex < 0) {
        // The engine's end of the run: its tasks go. A run that has not been
        // completed above still ends here, caption included.
        calls_.Close();
        engine_->StopConvert();
        engine_->ClearTasks();
        SetControlsIdle(true);
        BtnStart->setText(tr("Convert"));
        runState_ = TRunState::Idle;
        return;
    }
    if (runState_ != TRunState::Running || static_cast<size_t>(AIndex) >= runTasks_.size()) return;
    ++endedCount_;
    const int row = runTasks_[AIndex].Row;
    const bool complete = endedCount_ >= runTasks_.size();
    if (AFinished) {
        SetStatus(row, CompletedStatusText(AIndex));
        ++completedCount_;
    } else if (AException) {
        SetStatus(row, tr("Failed"));
    }
    if (AException && !(AFinished && complete)) Message(TranslatedMessage(AMessage), AppTitle, TMessageIcon::Warning);
    if (complete) CompleteRun();
}

// ---- about and help ----

void TForm1::BtnAboutClick() {
    TFrmAbout about(this);
    about.exec();
}

void TForm1::BtnHelpClick() { dialogs_.OpenDocument(helpFile_); }
