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
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidgetItem>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app/FrmAbout.h"
#include "app/JobList.h"
#include "app/Logo.h"
#include "app/QtDialogs.h"
#include "app/Translations.h"
#include "batch/General.h"
#include "batch/Settings.h"
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
std::string S(const QString& s) { return s.toStdString(); }

// The processors of the machine: the most files converted at once.
int ProcessorCount() { return std::max(1, QThread::idealThreadCount()); }

// "38× real time" reads better with a decimal only where it tells something.
QString SpeedText(double speed) { return QString::number(speed, 'f', speed < 10 ? 1 : 0); }

QStringList Items(const std::vector<std::string>& texts) {
    QStringList items;
    // The choices come from the converter library in English.
    for (const std::string& text : texts) items << TranslatedMessage(text);
    return items;
}

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
    // A preview window the user closes means "no previews": the box says so, and
    // the other files' previews stop with it.
    windowThread_.SetOnPreviewClosed([this] {
        QMetaObject::invokeMethod(this, [this] { ChkPreview->setChecked(false); }, Qt::QueuedConnection);
    });
    engine_ = std::make_unique<TDAzaduVED>(&windowThread_);
    engine_->SetPreview(ChkPreview->isChecked());
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
    // Names differ at their ends (track numbers, parts) as often as at their starts.
    Lvw->setTextElideMode(Qt::ElideMiddle);
    // Tab goes on to the next control; the arrows move within the list.
    Lvw->setTabKeyNavigation(false);
    Lvw->setAlternatingRowColors(true);
    Lvw->verticalHeader()->hide();
    Lvw->horizontalHeader()->setHighlightSections(false);
    Lvw->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The classic widths were made for an 8 point font; they grow with the font in use.
    const double scale = std::max(1.0, fontMetrics().averageCharWidth() / 5.0);
    // Status holds a video's "38% · Frame 1234 · 52 fps".
    const int widths[] = {150, 80, 80, 150, 170};
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

    BtnAdd = button("BtnAdd", tr("&Add"));
    BtnRemove = button("BtnRemove", tr("&Remove"));
    BtnClear = button("BtnClear", tr("C&lear"));
    BtnMoveUp = button("BtnMoveUp", tr("Move &Up"));
    BtnMoveDown = button("BtnMoveDown", tr("Move &Down"));

    PbBatch = new QProgressBar(this);
    PbBatch->setObjectName("PbBatch");
    PbBatch->setRange(0, 100);
    LblBatch = label("LblBatch", "");
    for (QWidget* w : std::initializer_list<QWidget*>{PbBatch, LblBatch}) {
        // Both keep their place when hidden, so the fixed window never jumps.
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
        w->hide();
    }
    LblBatch->setMinimumHeight(fontMetrics().height());

    Label1 = label("Label1", tr("Output &Folder: "));
    EdtOutputFolder = new QLineEdit(this);
    EdtOutputFolder->setObjectName("EdtOutputFolder");
    EdtOutputFolder->setReadOnly(true);
    BtnChangeOutputFolder = button("BtnChangeOutputFolder", "...");
    BtnChangeOutputFolder->setToolTip(tr("Please select output folder"));
    BtnChangeOutputFolder->setFixedWidth(BtnChangeOutputFolder->fontMetrics().horizontalAdvance("...") * 3 + 12);

    GBOutput = new QGroupBox(tr("Output Settings"), this);
    GBOutput->setObjectName("GBOutput");
    LblFormat = label("LblFormat", tr("Out&put format: "));
    CboFormat = new QComboBox(this);
    CboFormat->setObjectName("CboFormat");
    // The terminal's kinds, those the window offers, in the same order.
    for (const TOutputKind& kind : OutputKinds()) {
        if (!kind.window_name[0]) continue;
        formats_.push_back(&kind);
        CboFormat->addItem(TranslatedMessage(kind.window_name));
    }
    CboNorm = new QComboBox(this);
    CboNorm->setObjectName("CboNorm");
    CboNorm->addItems({tr("PAL"), tr("NTSC")});
    CboNorm->setToolTip(tr("The TV standard of the disc or tape: PAL (25 pictures a second) or NTSC (29.97)"));
    Label5 = label("Label5", tr("Audio &Channels: "));
    Label6 = label("Label6", tr("Audio &Bitrate: "));
    Label8 = label("Label8", tr("kbps"));
    Label10 = label("Label10", tr("Audio Sample Rat&e: "));
    Label12 = label("Label12", tr("Hz"));
    CboChannels = new QComboBox(this);
    CboChannels->setObjectName("CboChannels");
    const TSettings defaults;
    CboChannels->addItems(Items(ChannelItems()));
    CboChannels->setCurrentIndex(defaults.Channels);
    CboAudioBitrate = new QComboBox(this);
    CboAudioBitrate->setObjectName("CboAudioBitrate");
    CboAudioBitrate->addItems(Items(BitrateItems()));
    CboAudioBitrate->setCurrentIndex(defaults.AudioBitrate);
    CboAudioSampleRate = new QComboBox(this);
    CboAudioSampleRate->setObjectName("CboAudioSampleRate");
    CboAudioSampleRate->addItems(Items(SampleRateItems()));
    CboAudioSampleRate->setCurrentIndex(defaults.AudioSampleRate);
    auto* out = new QGridLayout(GBOutput);
    out->addWidget(LblFormat, 0, 0);
    out->addWidget(CboFormat, 0, 1);
    out->addWidget(CboNorm, 0, 2);
    out->addWidget(Label5, 1, 0);
    out->addWidget(CboChannels, 1, 1, 1, 2);
    out->addWidget(Label6, 2, 0);
    out->addWidget(CboAudioBitrate, 2, 1);
    out->addWidget(Label8, 2, 2);
    out->addWidget(Label10, 3, 0);
    out->addWidget(CboAudioSampleRate, 3, 1);
    out->addWidget(Label12, 3, 2);
    out->setColumnStretch(1, 1);

    GBOther = new QGroupBox(tr("Other Settings"), this);
    GBOther->setObjectName("GBOther");
    ChkOverwrite = new QCheckBox(tr("&Overwrite existing files"), this);
    ChkOverwrite->setObjectName("ChkOverwrite");
    ChkShutdown = new QCheckBox(tr("Shut do&wn computer when completed"), this);
    ChkShutdown->setObjectName("ChkShutdown");
    ChkCopyTags = new QCheckBox(tr("Copy ta&gs"), this);
    ChkCopyTags->setObjectName("ChkCopyTags");
    ChkCopyTags->setToolTip(tr("Title, artist, copyright and comment of each file go into its MP3 or MP4 file"));
    ChkCopyTags->setChecked(defaults.CopyTags);
    ChkPreview = new QCheckBox(tr("Show pre&view"), this);
    ChkPreview->setObjectName("ChkPreview");
    ChkPreview->setChecked(defaults.ShowPreview);
    LblSimultaneous = label("LblSimultaneous", tr("Si&multaneous conversions: "));
    SpnSimultaneous = new QSpinBox(this);
    SpnSimultaneous->setObjectName("SpnSimultaneous");
    SpnSimultaneous->setRange(1, ProcessorCount());
    SpnSimultaneous->setValue(ProcessorCount());
    auto* simultaneous = new QHBoxLayout;
    simultaneous->addWidget(LblSimultaneous);
    simultaneous->addWidget(SpnSimultaneous);
    simultaneous->addStretch(1);
    auto* other = new QVBoxLayout(GBOther);
    other->addWidget(ChkOverwrite);
    other->addWidget(ChkShutdown);
    other->addWidget(ChkCopyTags);
    other->addWidget(ChkPreview);
    other->addLayout(simultaneous);
    other->addStretch(1);

    // Not the default button: a Return meant for the box at the end of a run
    // must not start the same batch again.
    BtnStart = button("BtnStart", tr("Co&nvert"));
    QFont bold = BtnStart->font();
    bold.setBold(true);
    BtnStart->setFont(bold);
    BtnAbout = button("BtnAbout", tr("Abou&t"));
    BtnHelp = button("BtnHelp", tr("&Help"));
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
    auto* list = new QVBoxLayout;
    list->addWidget(Lvw, 1);
    list->addWidget(PbBatch);
    list->addWidget(LblBatch);
    auto* top = new QHBoxLayout;
    top->addLayout(list, 1);
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

    const int minButton = fontMetrics().horizontalAdvance("Move Down") + 32;
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

    connect(CboFormat, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { ShowFormatChoice(); }); });
    // Also during a run: the engine shows or stops showing the pictures at once.
    connect(ChkPreview, &QCheckBox::toggled, this, [this](bool on) {
        if (engine_) engine_->SetPreview(on);
    });
    ShowFormatChoice();

    Label1->setBuddy(BtnChangeOutputFolder);
    LblFormat->setBuddy(CboFormat);
    Label5->setBuddy(CboChannels);
    Label6->setBuddy(CboAudioBitrate);
    Label10->setBuddy(CboAudioSampleRate);
    LblSimultaneous->setBuddy(SpnSimultaneous);
    BuildShortcuts();
    SetAccessibleNames();
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { ShowBatchProgress(); });
}

void TForm1::BuildShortcuts() {
    // A key does what its button does, and only when the button may be used.
    auto key = [this](const QKeySequence& keys, QWidget* where, QPushButton* button) {
        auto* shortcut = new QShortcut(keys, where);
        shortcut->setContext(where == this ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [button] {
            if (button->isEnabled()) button->click();
        });
    };
    key(QKeySequence::Open, this, BtnAdd);
    key(QKeySequence::Delete, Lvw, BtnRemove);
    key(QKeySequence(Qt::CTRL | Qt::Key_Up), Lvw, BtnMoveUp);
    key(QKeySequence(Qt::CTRL | Qt::Key_Down), Lvw, BtnMoveDown);
}

// What a screen reader says for each control: the caption without its mnemonic,
// and words where the caption is a sign or there is none.
void TForm1::SetAccessibleNames() {
    auto plain = [](QString text) { return text.remove('&').trimmed().remove(QRegularExpression(":$")); };
    for (QPushButton* b : {BtnAdd, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown, BtnStart, BtnAbout, BtnHelp})
        b->setAccessibleName(plain(b->text()));
    for (QCheckBox* c : {ChkOverwrite, ChkShutdown, ChkPreview}) c->setAccessibleName(plain(c->text()));
    Lvw->setAccessibleName(tr("Files to convert"));
    EdtOutputFolder->setAccessibleName(plain(Label1->text()));
    BtnChangeOutputFolder->setAccessibleName(tr("Choose the output folder"));
    CboFormat->setAccessibleName(plain(LblFormat->text()));
    CboNorm->setAccessibleName(tr("TV standard"));
    CboChannels->setAccessibleName(plain(Label5->text()));
    CboAudioBitrate->setAccessibleName(tr("Audio bitrate in kbps"));
    CboAudioSampleRate->setAccessibleName(tr("Audio sample rate in Hz"));
    SpnSimultaneous->setAccessibleName(plain(LblSimultaneous->text()));
    PbBatch->setAccessibleName(tr("Progress of the whole batch"));
    LblBatch->setAccessibleName(tr("Progress of the whole batch in words"));
    LblProgress->setAccessibleName(tr("Progress of the file being converted"));
    GBOutput->setAccessibleName(GBOutput->title());
    GBOther->setAccessibleName(GBOther->title());
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
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    const bool coreError = dynamic_cast<const FFmpegException*>(&error) != nullptr;
    Message(text, AppTitle, coreError ? TMessageIcon::Warning : TMessageIcon::Error);
}

void TForm1::Message(const std::string& text, const std::string& title, TMessageIcon icon) {
    // Every message passes here: its known texts are shown in the user's language.
    dialogs_.ShowMessage(this, TranslatedMessage(text).toStdString(), TranslatedMessage(title).toStdString(), icon);
}

bool TForm1::FormCreate() {
    // The stored settings are read first, so that a failed start writes them back
    // unchanged instead of replacing them with the window's initial values.
    ReadSettingsIntoControls();
    if (!engine_->LibrariesLoaded() && !engine_->LoadLibraries(paths_.ProgramFolder + "LibAV")) {
        Message(engine_->LastErrorText() + ". Please re-install the program and try it again.", "Error",
                TMessageIcon::Information);
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
    ChkCopyTags->setChecked(s.CopyTags);
    ChkPreview->setChecked(s.ShowPreview);
    for (size_t i = 0; i < formats_.size(); ++i)
        if (s.OutputFormat == formats_[i]->name) CboFormat->setCurrentIndex(static_cast<int>(i));
    CboNorm->setCurrentIndex(s.VideoNorm == "ntsc" ? 1 : 0);
    // None stored, or a number this machine cannot follow: one file per processor.
    const int simultaneous = s.SimultaneousConversions;
    SpnSimultaneous->setValue(simultaneous >= 1 && simultaneous <= ProcessorCount() ? simultaneous
                                                                                     : ProcessorCount());
    lastAddFolder_ = s.LastAddFolder;
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
    s.CopyTags = ChkCopyTags->isChecked();
    s.OutputFormat = OutputChoice().kind->name;
    s.VideoNorm = CboNorm->currentIndex() == 1 ? "ntsc" : "pal";
    s.ShowPreview = ChkPreview->isChecked();
    s.SimultaneousConversions = SpnSimultaneous->value();
    s.LastAddFolder = lastAddFolder_;
    Guarded([&] { WriteSettings(paths_.SettingsFile, s); });
}

std::string TForm1::OutputFolder() const { return EdtOutputFolder->text().toStdString(); }

TOutputChoice TForm1::OutputChoice() const {
    const int item = CboFormat->currentIndex();
    const bool listed = item >= 0 && static_cast<size_t>(item) < formats_.size();
    TOutputChoice choice{listed ? formats_[static_cast<size_t>(item)] : &OutputKinds().front(), ""};
    if (choice.kind->target[0]) choice.norm = CboNorm->currentIndex() == 1 ? "ntsc" : "pal";
    return choice;
}

void TForm1::ShowFormatChoice() {
    const TOutputKind& kind = *OutputChoice().kind;
    CboNorm->setEnabled(kind.target[0] != '\0');
    const QString fixed =
        kind.audio_settings ? QString() : tr("%1 sets the audio by its own standard").arg(CboFormat->currentText());
    for (QWidget* w : std::initializer_list<QWidget*>{Label5, CboChannels, Label6, CboAudioBitrate, Label8, Label10,
                                                      CboAudioSampleRate, Label12}) {
        w->setEnabled(kind.audio_settings);
        w->setToolTip(fixed);
    }
    ChkPreview->setEnabled(kind.needs_video);
    ChkPreview->setToolTip(kind.needs_video
                               ? tr("Shows the pictures of each video as it is converted, up to ten a second")
                               : tr("%1 has no pictures to show").arg(CboFormat->currentText()));
    // The names the rows will be written under follow the format.
    static const std::set<std::string> none;
    for (int row = 0; row < Lvw->rowCount(); ++row) {
        const std::string name = ChooseOutputName(OutputFolder(), BaseName(CellText(row, colPath)),
                                                  ChkOverwrite->isChecked(), none, FileExists, kind.extension);
        SetOutputName(row, OutputFolder() + name + kind.extension);
    }
}

TPlanChoice TForm1::PlanChoice() const {
    TPlanChoice choice;
    choice.To = OutputChoice();
    choice.Audio = AudioChoiceOf(CboChannels->currentIndex(), CboAudioBitrate->currentIndex(),
                                 CboAudioSampleRate->currentIndex());
    choice.Overwrite = ChkOverwrite->isChecked();
    choice.CopyTags = ChkCopyTags->isChecked();
    return choice;
}

void TForm1::CreateOutputFolder() const {
    std::error_code ec;
    if (!OutputFolder().empty()) fs::create_directories(OutputFolder(), ec);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A run is not given up by a slip of the hand; the desktop ending the
    // session does not ask (CloseWithoutAsking).
    if (runState_ == TRunState::Running && !closeAgreed_ && !closed_) {
        const int answer = dialogs_.Ask(this, S(tr("Files are being converted. Stop converting and close Ardentix?")),
                                        AppTitle, {S(tr("Stop and &close")), S(tr("&Keep converting"))});
        if (answer != 0) {
            event->ignore();
            return;
        }
    }
    FormCloseQuery();
    event->accept();
}

void TForm1::CloseWithoutAsking() {
    closeAgreed_ = true;
    close();
}

int TForm1::SimultaneousConversions() const { return SpnSimultaneous->value(); }

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

void TForm1::SetStatus(int row, const std::string& text, const std::string& why) {
    if (row < 0 || row >= Lvw->rowCount()) return;
    QTableWidgetItem* item = Lvw->item(row, colStatus);
    if (!item) Lvw->setItem(row, colStatus, item = new QTableWidgetItem);
    // The row keeps the English text for the window's own checks and shows it translated.
    item->setData(Qt::UserRole, Q(text));
    item->setText(TranslatedMessage(text));
    item->setToolTip(why.empty() ? QString() : PlainToolTip(TranslatedMessage(why)));
}

TForm1::TAddedFile TForm1::AddFile(const std::string& path, bool addRow) {
    TAddedFile added;
    std::string duration, size;
    TSourceFacts source;
    try {
        TAVProbe& probe = engine_->Probe;
        if (probe.Open(path, "")) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            added.DurationUs = info.Duration;
            duration = DurationText(info.Duration);
            size = std::to_string(probe.GetFileSize());
            source = SourceFacts(probe);
            probe.Close();
        }
    } catch (const std::exception&) {
        // Without the probe's view the row has no duration and size; the task decides.
    }

    // While adding, a refusal is told at once; during a run it goes to the row and the summary.
    auto refuse = [&](const std::string& text) {
        added.Error = text;
        if (addRow) Message(text, "Error", TMessageIcon::Information);
    };
    const TPlanChoice choice = PlanChoice();
    // A sound file is listed under a video format too: the format may change
    // before the run, which is where it fails.
    if (const std::string refusal = PlanRefusal(choice, source); !addRow && !refusal.empty()) {
        refuse(refusal);
        return added;
    }
    TInputOptions input;
    input.FileName = path;
    const int index = engine_->AddTask(path, &input);
    if (index < 0) {
        refuse("Convertion of file \"" + path + "\" is not supported.");
        return added;
    }
    TOutputOptions output = PlanOutput(choice, source);
    const std::string extension = output.FileExt;

    const std::string folder = OutputFolder();
    static const std::set<std::string> none;
    const std::string name = ChooseOutputName(folder, BaseName(path), choice.Overwrite,
                                              addRow ? none : runOutputs_, FileExists, extension);
    // The task writes a temporary file of its own beside this name and takes the
    // name only at its end, so a trial touches no file of the user's.
    output.FileName = folder + name + extension;
    added.OutputPath = output.FileName;
    if (!engine_->SetOutputFile(index, output.FileName, &output)) {
        refuse("Cannot convert: " + engine_->LastErrorText());
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
    const std::string texts[colCount] = {FileNamePart(path), duration, size, name + extension, "", path};
    for (int c = 0; c < colCount; ++c) {
        auto* item = new QTableWidgetItem(Q(texts[c]));
        if (c == colDuration || c == colSize) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (c == colInputFilename) item->setToolTip(PlainToolTip(Q(path)));
        Lvw->setItem(row, c, item);
    }
    SetOutputName(row, output.FileName);
    return added;
}

void TForm1::SetOutputName(int row, const std::string& path) {
    if (row < 0 || row >= Lvw->rowCount()) return;
    QTableWidgetItem* item = Lvw->item(row, colOutputFilename);
    if (!item) Lvw->setItem(row, colOutputFilename, item = new QTableWidgetItem);
    item->setText(Q(FileNamePart(path)));
    item->setToolTip(PlainToolTip(Q(path)));
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
            std::string text;
            for (const std::string& problem : link.Problems) text += (text.empty() ? "" : "\n") + problem;
            Message(text, "Error", TMessageIcon::Information);
        }
        for (const std::string& file : link.Files) DropTestTask(AddFile(file, true));
    }
    engine_->ClearTasks();
}

void TForm1::BtnAddClick() {
    const std::vector<std::string> files =
        dialogs_.ChooseFiles(this, S(tr("Choose Files to Convert")), OpenFilter(), lastAddFolder_);
    if (files.empty()) return;
    lastAddFolder_ = fs::path(files.front()).parent_path().string();
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
    const std::string folder = dialogs_.ChooseFolder(this, S(tr("Please select output folder")), OutputFolder());
    if (folder.empty()) return;
    EdtOutputFolder->setText(Q(IncludeTrailingSeparator(folder)));
}

// ---- batch run ----

void TForm1::SetControlsIdle(bool idle) {
    // "Show preview" stays: pictures can be looked at or not while they are made.
    for (QWidget* w : std::initializer_list<QWidget*>{BtnAdd, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown,
                                                      BtnChangeOutputFolder, BtnAbout, BtnHelp, GBOutput, ChkOverwrite,
                                                      ChkShutdown, ChkCopyTags, LblSimultaneous, SpnSimultaneous})
        w->setEnabled(idle);
    for (QWidget* w : std::initializer_list<QWidget*>{LblProgress, PbBatch, LblBatch}) w->setVisible(!idle);
    Lvw->setEnabled(true);
    Lvw->SetDropsAllowed(idle);
}

// The button's caption tells the run state to the user (the run state itself is runState_).
void TForm1::ShowStartCaption(bool running) {
    BtnStart->setText(running ? tr("&Stop") : tr("Co&nvert"));
    BtnStart->setAccessibleName(running ? tr("Stop") : tr("Convert"));
}

void TForm1::BtnStartClick() {
    if (runState_ == TRunState::Running) {
        StopRun();
        return;
    }
    if (Lvw->rowCount() == 0) {
        Message("Please select files to be converted.", "Information", TMessageIcon::Information);
        return;
    }
    if (!ConfirmConvertingAgain()) return;
    // One message for a folder that cannot take the files, rather than one per file.
    std::string why;
    if (!PrepareOutputFolder(OutputFolder(), why)) {
        Message("Cannot write to the output folder \"" + OutputFolder() + "\": " + why + ".", "Error",
                TMessageIcon::Information);
        return;
    }
    StartRun();
}

bool TForm1::ConfirmConvertingAgain() {
    for (int row = 0; row < Lvw->rowCount(); ++row)
        if (!Lvw->item(row, colStatus) ||
            !Lvw->item(row, colStatus)->data(Qt::UserRole).toString().startsWith("Completed"))
            return true;
    const int answer = dialogs_.Ask(
        this, S(tr("Every file in the list has been converted already. Convert them all again?")), AppTitle,
        {S(tr("Convert &again")), S(tr("&Cancel"))});
    return answer == 0;
}

void TForm1::StartRun() {
    calls_.Close();  // whatever an earlier run still had queued is dropped
    for (int row = 0; row < Lvw->rowCount(); ++row) SetStatus(row, " ");
    completedCount_ = 0;
    endedCount_ = 0;
    runTasks_.clear();
    runOutputs_.clear();
    summary_.Clear();
    rowResults_.assign(Lvw->rowCount(), TSummaryEntry{});
    engine_->ClearTasks();
    LblProgress->clear();
    SetControlsIdle(false);
    runState_ = TRunState::Running;
    std::vector<int64_t> durations(Lvw->rowCount(), -1);
    std::vector<int> refused;
    for (int row = 0; row < Lvw->rowCount(); ++row) {
        const std::string path = CellText(row, colPath);
        const TAddedFile added = AddFile(path, false);
        rowResults_[row].Input = path;
        durations[row] = added.DurationUs < 0 ? -1 : added.DurationUs / 1000;
        if (added.Index < 0) {
            // Told in the row and in the summary: an unattended batch goes on.
            SetStatus(row, "Failed", added.Error);
            rowResults_[row].Outcome = TFileOutcome::Failed;
            rowResults_[row].Reason = added.Error;
            refused.push_back(row);
            continue;
        }
        // Rows are marked through their task: a file left out shifts nothing.
        if (static_cast<size_t>(added.Index) >= runTasks_.size()) runTasks_.resize(added.Index + 1);
        runTasks_[added.Index] = {row, false};
        rowResults_[row].Output = added.OutputPath;
        SetOutputName(row, added.OutputPath);
    }
    clock_.start();
    progress_.Start(durations, Now());
    for (int row : refused) progress_.FileEnded(row);
    lastShownRow_ = -1;
    threadCount_ = SimultaneousConversions();
    engine_->SetThreadPriority(tpNormal);
    ShowStartCaption(true);
    ShowBatchProgress();
    if (runTasks_.empty()) {
        CompleteRun();
        runState_ = TRunState::Idle;
        return;
    }
    tick_.start();
    calls_.Open();
    engine_->StartConvert(threadCount_);
}

void TForm1::StopRun() {
    // The engine starts tasks in list order, one more as each ends: those begun
    // are the first ended + simultaneous ones.
    const size_t begun = std::min(runTasks_.size(), endedCount_ + static_cast<size_t>(threadCount_));
    // The workers are let go before the engine waits for them.
    calls_.Close();
    engine_->StopConvert();
    engine_->ClearTasks();
    tick_.stop();
    SetControlsIdle(true);
    for (size_t i = 0; i < runTasks_.size(); ++i) {
        if (runTasks_[i].Ended) continue;
        const bool ran = i < begun;
        if (ran) SetStatus(runTasks_[i].Row, "Stopped");
        rowResults_[runTasks_[i].Row].Outcome = ran ? TFileOutcome::Stopped : TFileOutcome::NotStarted;
    }
    summary_.Clear();
    for (const TSummaryEntry& e : rowResults_) summary_.Add(e);
    Lvw->viewport()->update();
    runState_ = TRunState::Idle;
    ShowStartCaption(false);
}

void TForm1::CompleteRun() {
    ShowStartCaption(false);
    tick_.stop();
    ShowBatchProgress();
    SetControlsIdle(true);
    // The engine is cleaned up when it reports the end of the run.
    runState_ = TRunState::Finishing;
    summary_.Clear();
    for (const TSummaryEntry& e : rowResults_) summary_.Add(e);
    // Every file has been dealt with, failed ones too: an overnight batch with a
    // broken file still ends with the computer off. Nothing shown holds it up.
    if (ChkShutdown->isChecked() && summary_.RanToTheEnd()) shutdown_.PowerOff();
    if (Now() >= NotifyAfterMs && !isActiveWindow()) {
        const int failed = summary_.Count(TFileOutcome::Failed);
        const QString counts = failed == 0 ? tr("%1 of %2 files converted.")
                                                 .arg(summary_.Count(TFileOutcome::Completed))
                                                 .arg(summary_.Total())
                                           : tr("%1 of %2 files converted, %3 failed.")
                                                 .arg(summary_.Count(TFileOutcome::Completed))
                                                 .arg(summary_.Total())
                                                 .arg(failed);
        dialogs_.Notify(S(tr("Conversion finished")), S(counts));
    }
    dialogs_.ShowSummary(this, S(tr("Ardentix: conversion finished")), SummaryText());
}

// The words of the summary: the counts, then each failure with its reason, then
// what was written, one file a line so that the list can be copied as it is.
std::string TForm1::SummaryText() const {
    QString text = TranslatedMessage("File conversion process finished.") + "\n";
    const int total = summary_.Total();
    text += (total == 1 ? tr("1 file") : tr("%1 files").arg(total)) + ": " +
            tr("%1 converted, %2 failed.")
                .arg(summary_.Count(TFileOutcome::Completed))
                .arg(summary_.Count(TFileOutcome::Failed)) +
            "\n";
    const std::vector<TSummaryEntry> failed = summary_.With(TFileOutcome::Failed);
    if (!failed.empty()) text += "\n" + tr("Failed:") + "\n";
    for (const TSummaryEntry& e : failed) text += "  " + Q(e.Input) + ": " + TranslatedMessage(e.Reason) + "\n";
    const std::vector<TSummaryEntry> converted = summary_.With(TFileOutcome::Completed);
    if (!converted.empty()) text += "\n" + tr("Converted:") + "\n";
    for (const TSummaryEntry& e : converted)
        text += "  " + Q(e.Input) + " \u2192 " + Q(e.Output) + (e.Reason.empty() ? "" : " (" + TranslatedMessage(e.Reason) + ")") + "\n";
    return S(text);
}

void TForm1::ShowBatchProgress() {
    const TBatchProgress& p = progress_;
    PbBatch->setValue(p.Percent());
    const QString files = p.Running() > 1 ? tr("Files %1\u2013%2 of %3")
                                                .arg(p.Started() - p.Running() + 1)
                                                .arg(p.Started())
                                                .arg(p.Files())
                                          : tr("File %1 of %2").arg(std::max(1, p.Started())).arg(p.Files());
    const int64_t left = p.RemainingMs(Now());
    const QString remaining = left < 0 ? tr("estimating the time left") : tr("about %1 left").arg(Q(ClockText(left)));
    LblBatch->setText(tr("%1 \u00b7 %2% \u00b7 %3 elapsed \u00b7 %4")
                          .arg(files)
                          .arg(p.Percent())
                          .arg(Q(ClockText(p.ElapsedMs(Now()))))
                          .arg(remaining));
}

std::string TForm1::ProgressLine(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                                 int ATotalOutputDuration) const {
    // Frames mean something for video only; sound is told by its time and speed.
    if (AFrameNumber >= 0)
        return S(tr("Current Frame=%1 Time=%2 FPS=%3").arg(AFrameNumber).arg(ACurrentDuration / 1000).arg(AFPS));
    QString line = Q(ClockText(ACurrentDuration));
    if (ATotalOutputDuration > 0) line = tr("%1 of %2").arg(line, Q(ClockText(ATotalOutputDuration)));
    const double speed = progress_.FileSpeed(runTasks_[AIndex].Row, Now());
    if (speed > 0) line += " \u00b7 " + tr("%1\u00d7 real time").arg(SpeedText(speed));
    return S(line);
}

void TForm1::ProgressHandler(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration,
                             int ATotalOutputDuration) {
    if (runState_ != TRunState::Running || AIndex < 0 || static_cast<size_t>(AIndex) >= runTasks_.size()) return;
    const TRunTask& task = runTasks_[AIndex];
    if (task.Ended) return;
    SetStatus(task.Row, AFrameNumber >= 0
                            ? VideoProgressStatusText(ACurrentDuration, ATotalOutputDuration, AFrameNumber, AFPS)
                            : ProgressStatusText(ACurrentDuration, ATotalOutputDuration));
    const int started = progress_.Started();
    progress_.FileProgress(task.Row, ACurrentDuration, ATotalOutputDuration, Now());
    LblProgress->setText(Q(ProgressLine(AIndex, AFrameNumber, AFPS, ACurrentDuration, ATotalOutputDuration)));
    // The list follows the file that began last.
    if (progress_.Started() != started && task.Row != lastShownRow_) {
        lastShownRow_ = task.Row;
        if (QTableWidgetItem* item = Lvw->item(task.Row, 0)) Lvw->scrollToItem(item);
    }
    ShowBatchProgress();
}

// How much of an input that ended early was converted ("00:00:03 of 00:00:10"):
// a cut file must not pass for a whole one. Empty for a whole file.
std::string TForm1::ShortfallText(int AIndex) const {
    const TFFmpeg* task = engine_->Task(AIndex);
    if (!task || !task->EndedShort()) return {};
    return DurationText(task->converted_ms * 1000) + " of " + DurationText(task->ExpectedOutputMs() * 1000);
}

void TForm1::TerminateHandler(int AIndex, bool AFinished, bool AException, const std::string& AMessage) {
    if (runState_ == TRunState::Idle) return;
    if (AIndex < 0) {
        // The engine's end of the run: its tasks go. A run that has not been
        // completed above still ends here, caption included.
        calls_.Close();
        engine_->StopConvert();
        engine_->ClearTasks();
        tick_.stop();
        SetControlsIdle(true);
        ShowStartCaption(false);
        runState_ = TRunState::Idle;
        return;
    }
    if (runState_ != TRunState::Running || static_cast<size_t>(AIndex) >= runTasks_.size()) return;
    TRunTask& task = runTasks_[AIndex];
    if (task.Ended) return;
    task.Ended = true;
    ++endedCount_;
    progress_.FileEnded(task.Row);
    TSummaryEntry& result = rowResults_[task.Row];
    if (AException) {
        // A failure is told in its row and in the summary at the end; the run
        // goes on without waiting for anyone.
        SetStatus(task.Row, "Failed", AMessage);
        result.Outcome = TFileOutcome::Failed;
        result.Reason = AMessage;
        result.Output.clear();
    } else if (AFinished) {
        result.Reason = ShortfallText(AIndex);
        SetStatus(task.Row, result.Reason.empty() ? "Completed" : "Completed (" + result.Reason + ")");
        ++completedCount_;
        result.Outcome = TFileOutcome::Completed;
        // A name taken while the file was converted makes it take the next free one.
        const TFFmpeg* t = engine_->Task(AIndex);
        if (t && !t->placed_output.empty() && t->placed_output != result.Output) {
            result.Output = t->placed_output;
            SetOutputName(task.Row, result.Output);
        }
    } else {
        SetStatus(task.Row, "Stopped");
        result.Outcome = TFileOutcome::Stopped;
    }
    ShowBatchProgress();
    if (endedCount_ >= runTasks_.size()) CompleteRun();
}

// ---- about and help ----

void TForm1::BtnAboutClick() {
    TFrmAbout about(this);
    about.exec();
}

void TForm1::BtnHelpClick() { dialogs_.OpenDocument(helpFile_); }
