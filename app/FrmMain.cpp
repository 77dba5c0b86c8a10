#include "app/FrmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "app/FrmAbout.h"
#include "app/JobList.h"
#include "app/Logo.h"
#include "app/QtDialogs.h"
#include "app/Translations.h"
#include "batch/General.h"
#include "batch/Settings.h"
#include "batch/Simultaneous.h"

namespace fs = std::filesystem;

namespace {

const char* const AppTitle = "Ardentix";

// The open dialog's filter: translated names, the patterns as they are.
std::string OpenFilter() {
    return (QCoreApplication::translate("TForm1", "Real Media Files") +
            "(*.ra;*.ram;*.rm;*.rmj;*.rms;*.rmvb;*.rpm) (*.ra *.ram *.rm *.rmj *.rms *.rmvb *.rpm);;" +
            QCoreApplication::translate("TForm1", "All Files") + "(*.*) (*)")
        .toStdString();
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The processors of the machine: the most files converted at once.
int ProcessorCount() { return std::max(1, QThread::idealThreadCount()); }

// "38× real time" reads better with a decimal only where it tells something; the
// decimal sign is the locale's ("5,2-fache Echtzeit").
QString SpeedText(double speed) { return QLocale().toString(speed, 'f', speed < 10 ? 1 : 0); }

// A row given by name waits for the reader before it shows its length and size.
const char* const WaitingStatus = "Waiting to be read";

// Files the window takes from the reader at one go: a few milliseconds of the
// window's time, so that it keeps answering while ten thousand come in.
constexpr size_t ReadingsAtOnce = 200;

// The reader's threads: reading is mostly waiting for the disk and the
// libraries' parsing, so a few even on one processor, and not many more on many.
int ReaderThreads() { return std::clamp(QThread::idealThreadCount(), 2, 4); }

// Asks for the whole of its settings, so that a window with room shows them without scrolling.
class TSettingsArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QWidget* w = widget();
        return w ? w->sizeHint() + QSize(2 * frameWidth(), 2 * frameWidth()) : QScrollArea::sizeHint();
    }
};

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
    const std::string home_folder = home && *home ? home : QDir::homePath().toStdString();
    p.SettingsFile = SettingsFilePath(xdg ? xdg : "", home_folder);
    p.Folders = ReadUserFolders(xdg ? xdg : "", home_folder);
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
}

TForm1::~TForm1() {
    FormCloseQuery();
    // The engine goes first: its workers may still hold routines meant for this window.
    engine_.reset();
}

QPushButton* TForm1::NewButton(const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QLabel* TForm1::NewLabel(const char* name, const QString& caption) {
    auto* l = new QLabel(caption, this);
    l->setObjectName(name);
    return l;
}

void TForm1::BuildControls() {
    BuildJobList();
    BuildListButtons();
    BuildOutputSettings();
    BuildOtherSettings();
    BuildBottomRow();
    LayOutControls();
    const std::pair<const char*, QWidget*> bound[] = {
        {"ShutdownAfterCompleted", ChkShutdown}, {"CopyTags", ChkCopyTags},  {"ShowPreview", ChkPreview},
        {"OutputNextToSource", ChkNextToSource}, {"RemoveBlackBars", ChkRemoveBlackBars},
        {"ExistingOutputs", CboExisting},        {"Deinterlace", CboDeinterlace}, {"VideoNorm", CboNorm},
        {"OutputFormat", CboFormat}};
    for (const auto& [key, control] : bound) bindings_.push_back({&SettingRow(key), control});
    LoadBound(TSettings{});
    ConnectControls();
}

// A box is ticked by "True"; a list's items are the row's words in order.
void TForm1::LoadBound(const TSettings& s) {
    for (const TBinding& b : bindings_) {
        const std::string text = b.row->text(s);
        if (auto* box = qobject_cast<QCheckBox*>(b.control)) box->setChecked(text == FlagText(true));
        if (auto* list = qobject_cast<QComboBox*>(b.control))
            list->setCurrentIndex(static_cast<int>(Q(b.row->choices).split('|').indexOf(Q(text))));
    }
}

void TForm1::SaveBound(TSettings& s) const {
    for (const TBinding& b : bindings_) {
        if (auto* box = qobject_cast<QCheckBox*>(b.control)) b.row->read(s, FlagText(box->isChecked()));
        if (auto* list = qobject_cast<QComboBox*>(b.control))
            b.row->read(s, S(Q(b.row->choices).split('|').value(list->currentIndex())));
    }
}

void TForm1::BuildJobList() {
    Lvw = new TJobList(this);
    Lvw->setObjectName("Lvw");
    jobs_ = new TJobModel(this);
    jobs_->SetCaptions(
        {tr("Input Filename"), tr("Duration"), tr("Size(Bytes)"), tr("Output Filename"), tr("Status"), tr("Path")});
    Lvw->setModel(jobs_);
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
                                jobs_->headerData(c, Qt::Horizontal).toString()) + 24;
        Lvw->setColumnWidth(c, std::max(static_cast<int>(widths[c] * scale), caption));
        total += Lvw->columnWidth(c);
    }
    Lvw->setColumnHidden(colPath, true);
    // Status takes what is left of the width; rows are compact but not cramped.
    Lvw->horizontalHeader()->setStretchLastSection(true);
    Lvw->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Lvw->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    // The list asks for its columns and sixteen rows, and shrinks to a few.
    Lvw->SetSizeHint(QSize(total + 2 * Lvw->frameWidth() + 4, fontMetrics().height() * 16));
    Lvw->setMinimumSize(fontMetrics().averageCharWidth() * 30, fontMetrics().height() * 5);
    connect(Lvw, &TJobList::FilesDropped, this, [this](const QStringList& files) {
        std::vector<std::string> paths;
        for (const QString& f : files) paths.push_back(f.toStdString());
        Guarded([&] { AddFiles(paths); });
    });
}

// The list's buttons and, under the list, the whole batch's progress.
void TForm1::BuildListButtons() {
    BtnAdd = NewButton("BtnAdd", tr("&Add"));
    BtnRemove = NewButton("BtnRemove", tr("&Remove"));
    BtnClear = NewButton("BtnClear", tr("C&lear"));
    BtnMoveUp = NewButton("BtnMoveUp", tr("Move &Up"));
    BtnMoveDown = NewButton("BtnMoveDown", tr("Move &Down"));
    // A folder adds its media files and those of its subfolders, their outputs in the same shape.
    BtnAddFolder = NewButton("BtnAddFolder", tr("Add folder&s..."));
    BtnAddFolder->setToolTip(tr("Adds the media files of a folder and its subfolders (Ctrl+Shift+O)"));

    PbBatch = new QProgressBar(this);
    PbBatch->setObjectName("PbBatch");
    PbBatch->setRange(0, 100);
    // The language's own way to write a percentage, never broken over two lines.
    PbBatch->setFormat(tr("%p%"));
    LblBatch = NewLabel("LblBatch", "");
    for (QWidget* w : std::initializer_list<QWidget*>{PbBatch, LblBatch}) {
        // Both keep their place when hidden, so the fixed window never jumps.
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
        w->hide();
    }
    LblBatch->setMinimumHeight(fontMetrics().height());
    LblCount = NewLabel("LblCount", "");
    ShowCount();
}

// The output folder and the "Output Settings" group.
void TForm1::BuildOutputSettings() {
    Label1 = NewLabel("Label1", tr("Output &Folder: "));
    EdtOutputFolder = new QLineEdit(this);
    EdtOutputFolder->setObjectName("EdtOutputFolder");
    EdtOutputFolder->setReadOnly(true);
    BtnChangeOutputFolder = NewButton("BtnChangeOutputFolder", "...");
    BtnChangeOutputFolder->setToolTip(tr("Please select output folder"));
    BtnChangeOutputFolder->setFixedWidth(BtnChangeOutputFolder->fontMetrics().horizontalAdvance("...") * 3 + 12);

    GBOutput = new QGroupBox(tr("Output Settings"), this);
    GBOutput->setObjectName("GBOutput");
    LblFormat = NewLabel("LblFormat", tr("Out&put format: "));
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
    Label5 = NewLabel("Label5", tr("Audio &Channels: "));
    Label6 = NewLabel("Label6", tr("Audio &Bitrate: "));
    Label8 = NewLabel("Label8", tr("kbps"));
    Label10 = NewLabel("Label10", tr("Audio Sample Rat&e: "));
    Label12 = NewLabel("Label12", tr("Hz"));
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
    LblMaxPicture = NewLabel("LblMaxPicture", tr("Largest p&icture: "));
    CboMaxPicture = new QComboBox(this);
    CboMaxPicture->setObjectName("CboMaxPicture");
    for (const TPictureSize size : MaxPictureChoices())
        CboMaxPicture->addItem(size.Width ? Q(PictureSizeText(size)) : tr("No limit"));
    CboMaxPicture->setToolTip(tr("A larger picture is made smaller to fit, keeping its shape; a smaller one "
                                 "stays as it is"));
    CboQuality = new QComboBox(this);
    CboQuality->setObjectName("CboQuality");
    CboQuality->setVisible(false);
    auto* out = new QGridLayout(GBOutput);
    out->addWidget(LblFormat, 0, 0);
    out->addWidget(CboFormat, 0, 1);
    out->addWidget(CboNorm, 0, 2);
    out->addWidget(Label5, 1, 0);
    out->addWidget(CboChannels, 1, 1, 1, 2);
    out->addWidget(Label6, 2, 0);
    out->addWidget(CboAudioBitrate, 2, 1);
    out->addWidget(CboQuality, 2, 1, 1, 2);
    out->addWidget(Label8, 2, 2);
    out->addWidget(Label10, 3, 0);
    out->addWidget(CboAudioSampleRate, 3, 1);
    out->addWidget(Label12, 3, 2);
    out->addWidget(LblMaxPicture, 4, 0);
    out->addWidget(CboMaxPicture, 4, 1, 1, 2);
    // The settings whose boxes come from their rows, then the picture's.
    int line = 5;
    for (const TSettingRow& row : SettingRows()) {
        if (!row.caption) continue;
        auto* box = new QCheckBox(QCoreApplication::translate("TForm1", row.caption), this);
        box->setObjectName(QString("Chk") + row.key);
        box->setToolTip(QCoreApplication::translate("TForm1", row.description));
        out->addWidget(box, line++, 0, 1, 3);
        bindings_.push_back({&row, box});
    }
    out->setColumnStretch(1, 1);
    BuildPictureSettings(out, line);
}

void TForm1::BuildPictureSettings(QGridLayout* out, int line) {
    ChkRemoveBlackBars = new QCheckBox(tr("Remove blac&k bars"), this);
    ChkRemoveBlackBars->setObjectName("ChkRemoveBlackBars");
    LblDeinterlace = NewLabel("LblDeinterlace", tr("Deinterlace: "));
    CboDeinterlace = new QComboBox(this);
    CboDeinterlace->setObjectName("CboDeinterlace");
    CboDeinterlace->addItems({tr("Automatic"), tr("On"), tr("Off")});
    CboDeinterlace->setToolTip(tr("Automatic: an interlaced video is deinterlaced unless DVD or DV keeps its "
                                  "fields as they are"));
    LblDeinterlace->setBuddy(CboDeinterlace);
    out->addWidget(ChkRemoveBlackBars, line, 0, 1, 3);
    out->addWidget(LblDeinterlace, line + 1, 0);
    out->addWidget(CboDeinterlace, line + 1, 1, 1, 2);
}

void TForm1::BuildOtherSettings() {
    GBOther = new QGroupBox(tr("Other Settings"), this);
    GBOther->setObjectName("GBOther");
    ChkShutdown = new QCheckBox(tr("Shut do&wn computer when completed"), this);
    ChkShutdown->setObjectName("ChkShutdown");
    ChkCopyTags = new QCheckBox(tr("Copy ta&gs"), this);
    ChkCopyTags->setObjectName("ChkCopyTags");
    ChkCopyTags->setToolTip(tr("Title, artist, copyright and comment of each file go into its MP3 or MP4 file"));
    ChkPreview = new QCheckBox(tr("Show pre&view"), this);
    ChkPreview->setObjectName("ChkPreview");
    LblSimultaneous = NewLabel("LblSimultaneous", tr("Si&multaneous conversions: "));
    SpnSimultaneous = new QSpinBox(this);
    SpnSimultaneous->setObjectName("SpnSimultaneous");
    SpnSimultaneous->setRange(1, ProcessorCount());
    SpnSimultaneous->setValue(ProcessorCount());
    connect(SpnSimultaneous, &QSpinBox::valueChanged, this, [this] { simultaneousChosen_ = true; });
    auto* simultaneous = new QHBoxLayout;
    simultaneous->addWidget(LblSimultaneous);
    simultaneous->addWidget(SpnSimultaneous);
    simultaneous->addStretch(1);
    BuildPlaceChoices();
    auto* existing = new QHBoxLayout;
    existing->addWidget(LblExisting);
    existing->addWidget(CboExisting);
    existing->addStretch(1);
    auto* other = new QVBoxLayout(GBOther);
    other->addLayout(existing);
    other->addWidget(ChkShutdown);
    other->addWidget(ChkCopyTags);
    other->addWidget(ChkPreview);
    other->addLayout(simultaneous);
    other->addStretch(1);
}

void TForm1::BuildBottomRow() {
    // Not the default button: a Return meant for the box at the end of a run
    // must not start the same batch again.
    BtnStart = NewButton("BtnStart", tr("Co&nvert"));
    QFont bold = BtnStart->font();
    bold.setBold(true);
    BtnStart->setFont(bold);
    BtnPause = NewButton("BtnPause", tr("&Pause"));
    BtnPause->hide();
    QSizePolicy keepPause = BtnPause->sizePolicy();
    keepPause.setRetainSizeWhenHidden(true);
    BtnPause->setSizePolicy(keepPause);
    BtnAbout = NewButton("BtnAbout", tr("Abou&t"));
    BtnHelp = NewButton("BtnHelp", tr("&Help"));
    LblProgress = NewLabel("LblProgress", "");
    LblProgress->hide();
    // The line keeps its place when hidden, so the fixed window never jumps.
    QSizePolicy keep = LblProgress->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    LblProgress->setSizePolicy(keep);
    LblProgress->setMinimumHeight(fontMetrics().height());
}

void TForm1::LayOutControls() {
    // Layout: list with its buttons, output folder, the two groups, progress, bottom row.
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {BtnAdd, BtnAddFolder, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown}) side->addWidget(b);
    side->addStretch(1);
    side->addWidget(LblCount);
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
    folder->addWidget(ChkNextToSource);

    // The settings scroll on a screen too small for them, so the window can
    // shrink to fit any screen while the list keeps a few rows.
    auto* settings = new QWidget;
    auto* groups = new QHBoxLayout(settings);
    groups->setContentsMargins(0, 0, 0, 0);
    groups->addWidget(GBOutput, 1);
    groups->addWidget(GBOther, 1);
    SettingsArea = new TSettingsArea(this);
    SettingsArea->setObjectName("SettingsArea");
    SettingsArea->setFrameShape(QFrame::NoFrame);
    SettingsArea->setWidgetResizable(true);
    SettingsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SettingsArea->setWidget(settings);
    SettingsArea->setMinimumHeight(fontMetrics().height() * 4);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(BtnStart);
    bottom->addWidget(BtnPause);
    bottom->addWidget(LblProgress, 1);
    bottom->addWidget(BtnAbout);
    bottom->addWidget(BtnHelp);

    auto* main = new QVBoxLayout(this);
    main->addLayout(top, 1);
    main->addLayout(folder);
    main->addWidget(SettingsArea);
    main->addLayout(bottom);

    const int minButton = fontMetrics().horizontalAdvance("Move Down") + 32;
    for (QPushButton* b : {BtnAdd, BtnAddFolder, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown, BtnStart, BtnPause, BtnAbout,
                           BtnHelp})
        b->setMinimumWidth(minButton);
}

void TForm1::ConnectControls() {
    auto click = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    click(BtnAdd, &TForm1::BtnAddClick);
    click(BtnRemove, &TForm1::BtnRemoveClick);
    click(BtnClear, &TForm1::BtnClearClick);
    click(BtnMoveUp, &TForm1::BtnMoveUpClick);
    click(BtnMoveDown, &TForm1::BtnMoveDownClick);
    click(BtnAddFolder, &TForm1::BtnAddFolderClick);
    click(BtnChangeOutputFolder, &TForm1::BtnChangeOutputFolderClick);
    click(BtnStart, &TForm1::BtnStartClick);
    click(BtnAbout, &TForm1::BtnAboutClick);
    click(BtnHelp, &TForm1::BtnHelpClick);
    click(BtnPause, &TForm1::BtnPauseClick);

    connect(CboFormat, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { ShowFormatChoice(); }); });
    ConnectPlaceChoices();
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
    LblMaxPicture->setBuddy(CboMaxPicture);
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
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), this, BtnAddFolder);
    key(QKeySequence::Delete, Lvw, BtnRemove);
    key(QKeySequence(Qt::CTRL | Qt::Key_Up), Lvw, BtnMoveUp);
    key(QKeySequence(Qt::CTRL | Qt::Key_Down), Lvw, BtnMoveDown);
}

// What a screen reader says for each control: the caption without its mnemonic,
// and words where the caption is a sign or there is none.
void TForm1::SetAccessibleNames() {
    auto plain = [](QString text) { return text.remove('&').trimmed().remove(QRegularExpression(":$")); };
    for (QPushButton* b : {BtnAdd, BtnAddFolder, BtnRemove, BtnClear, BtnMoveUp, BtnMoveDown, BtnStart, BtnPause, BtnAbout,
                           BtnHelp})
        b->setAccessibleName(plain(b->text()));
    for (QCheckBox* c : {ChkShutdown, ChkPreview, ChkNextToSource}) c->setAccessibleName(plain(c->text()));
    for (const TBinding& b : bindings_)
        if (b.row->caption) b.control->setAccessibleName(plain(static_cast<QCheckBox*>(b.control)->text()));
    CboExisting->setAccessibleName(plain(LblExisting->text()));
    Lvw->setAccessibleName(tr("Files to convert"));
    LblCount->setAccessibleName(tr("Number of files in the list"));
    EdtOutputFolder->setAccessibleName(plain(Label1->text()));
    BtnChangeOutputFolder->setAccessibleName(tr("Choose the output folder"));
    CboFormat->setAccessibleName(plain(LblFormat->text()));
    CboNorm->setAccessibleName(tr("TV standard"));
    CboChannels->setAccessibleName(plain(Label5->text()));
    CboAudioBitrate->setAccessibleName(tr("Audio bitrate in kbps"));
    CboAudioSampleRate->setAccessibleName(tr("Audio sample rate in Hz"));
    CboMaxPicture->setAccessibleName(plain(LblMaxPicture->text()));
    ChkRemoveBlackBars->setAccessibleName(plain(ChkRemoveBlackBars->text()));
    CboDeinterlace->setAccessibleName(plain(LblDeinterlace->text()));
    SpnSimultaneous->setAccessibleName(plain(LblSimultaneous->text()));
    PbBatch->setAccessibleName(tr("Progress of the whole batch"));
    LblBatch->setAccessibleName(tr("Progress of the whole batch in words"));
    LblProgress->setAccessibleName(tr("Progress of the file being converted"));
    GBOutput->setAccessibleName(GBOutput->title());
    GBOther->setAccessibleName(GBOther->title());
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
    const bool coreError = IsConverterError(error);
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
                TMessageIcon::Error);
        close();
        FormCloseQuery();
        return false;
    }
    return true;
}

void TForm1::ReadSettingsIntoControls() {
    const TSettings s = ReadSettings(paths_.SettingsFile);
    chosenFolder_ = IncludeTrailingSeparator(s.OutputPath);
    // The items read are within their lists (an index outside one reads as its default).
    ShowAudioList(TAudioList::Mp3);
    CboChannels->setCurrentIndex(s.Channels);
    CboAudioBitrate->setCurrentIndex(s.AudioBitrate);
    CboAudioSampleRate->setCurrentIndex(s.AudioSampleRate);
    // The other kinds' set waits for its kind.
    hiddenAudio_ = {s.OtherChannels, s.OtherAudioBitrate, s.OtherAudioSampleRate};
    ShowAudioMeasure(TAudioMeasure::Bitrate, {});
    vorbisQuality_ = s.VorbisQuality;
    flacCompression_ = s.FlacCompression;
    LoadBound(s);
    ShowAudioList(AudioListOf(*OutputChoice().kind));
    ShowAudioMeasure(AudioMeasureOf(*OutputChoice().kind), CboFormat->currentText());
    CboMaxPicture->setCurrentIndex(0);
    const std::vector<TPictureSize>& sizes = MaxPictureChoices();
    for (size_t i = 1; i < sizes.size(); ++i)
        if (s.MaxPictureSize == PictureSizeText(sizes[i])) CboMaxPicture->setCurrentIndex(static_cast<int>(i));
    // None stored, or a number this machine cannot follow: one file per processor.
    const int simultaneous = s.SimultaneousConversions;
    SpnSimultaneous->setValue(simultaneous >= 1 && simultaneous <= ProcessorCount() ? simultaneous
                                                                                     : ProcessorCount());
    simultaneousChosen_ = simultaneous >= 1 && simultaneous <= ProcessorCount();
    lastAddFolder_ = s.LastAddFolder;
    ShowOutputFolder();
    if (const auto size = ParsePictureSize(s.WindowSize)) storedSize_ = QSize(size->Width, size->Height);
    for (size_t c = 0; c < s.ColumnWidths.size() && c < colStatus; ++c)
        Lvw->setColumnWidth(static_cast<int>(c), s.ColumnWidths[c]);
}

void TForm1::WriteSettingsFromControls() {
    if (paths_.SettingsFile.empty()) return;  // no home: nothing can be kept
    Guarded([&] { WriteSettings(paths_.SettingsFile, SettingsFromControls()); });
}

TSettings TForm1::SettingsFromControls() const {
    TSettings s;
    SaveBound(s);
    // Only a chosen folder is kept, so that the default keeps following the kind.
    s.OutputPath = chosenFolder_;
    const TAudioItems mp3 = AudioItemsOf(TAudioList::Mp3), other = AudioItemsOf(TAudioList::Automatic);
    s.Channels = mp3.channels;
    s.AudioBitrate = mp3.bitrate;
    s.AudioSampleRate = mp3.rate;
    s.OtherChannels = other.channels;
    s.OtherAudioBitrate = other.bitrate;
    s.OtherAudioSampleRate = other.rate;
    s.VorbisQuality = MeasureChoice(TAudioMeasure::Quality);
    s.FlacCompression = MeasureChoice(TAudioMeasure::Compression);
    // A window never shown keeps the size it had.
    const QSize size = centred_ ? this->size() : storedSize_;
    if (size.isValid()) s.WindowSize = PictureSizeText({size.width(), size.height()});
    for (int c = 0; c < colStatus; ++c) s.ColumnWidths.push_back(Lvw->columnWidth(c));
    s.MaxPictureSize = PictureSizeText(MaxPicture());
    // Not chosen stays not chosen: each run decides from its files and the memory.
    s.SimultaneousConversions = simultaneousChosen_ ? SpnSimultaneous->value() : 0;
    s.LastAddFolder = lastAddFolder_;
    return s;
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
                                                      CboAudioSampleRate, Label12, CboQuality}) {
        w->setEnabled(kind.audio_settings);
        w->setToolTip(fixed);
    }
    ShowAudioList(AudioListOf(kind));
    ShowAudioMeasure(AudioMeasureOf(kind), CboFormat->currentText());
    for (const TBinding& b : bindings_)
        if (b.row->shown_for) b.control->setVisible(kind.*(b.row->shown_for));
    ChkPreview->setEnabled(kind.needs_video);
    LblMaxPicture->setVisible(kind.size_limit);
    CboMaxPicture->setVisible(kind.size_limit);
    ChkPreview->setToolTip(kind.needs_video
                               ? tr("Shows the pictures of each video as it is converted, up to ten a second")
                               : tr("%1 has no pictures to show").arg(CboFormat->currentText()));
    ShowOutputFolder();
    ShowPictureChoices(kind);
    ShowPlannedNames();
}

// The MP3 record and the video kinds each keep their own audio choices; the
// lists of the kind chosen are shown, the other set waits in hiddenAudio_.
void TForm1::ShowAudioList(TAudioList list) {
    if (list == audioList_) return;
    const TAudioItems shown{CboChannels->currentIndex(), CboAudioBitrate->currentIndex(),
                            CboAudioSampleRate->currentIndex()};
    const auto refill = [](QComboBox* box, const std::vector<std::string>& items, int index) {
        box->clear();
        box->addItems(Items(items));
        box->setCurrentIndex(index);
    };
    refill(CboChannels, ChannelItems(list), hiddenAudio_.channels);
    refill(CboAudioBitrate, BitrateItems(list), hiddenAudio_.bitrate);
    refill(CboAudioSampleRate, SampleRateItems(list), hiddenAudio_.rate);
    hiddenAudio_ = shown;
    audioList_ = list;
}

// Vorbis is chosen by quality and FLAC by compression, in the bit rate's
// place; WAV keeps every sample, so there is nothing to choose.
void TForm1::ShowAudioMeasure(TAudioMeasure measure, const QString& kind) {
    if (measure_ == TAudioMeasure::Quality) vorbisQuality_ = MeasureChoice(measure_);
    if (measure_ == TAudioMeasure::Compression) flacCompression_ = MeasureChoice(measure_);
    measure_ = measure;
    const std::vector<int> values = AudioMeasureValues(measure);
    const bool listed = !values.empty();
    CboAudioBitrate->setVisible(!listed);
    Label8->setVisible(!listed);
    CboQuality->setVisible(listed);
    Label6->setText(measure == TAudioMeasure::Quality       ? tr("&Quality: ")
                    : measure == TAudioMeasure::Compression ? tr("Compression: ")
                                                            : tr("Audio &Bitrate: "));
    Label6->setBuddy(listed ? CboQuality : CboAudioBitrate);
    if (measure == TAudioMeasure::None) {
        CboAudioBitrate->setEnabled(false);
        CboAudioBitrate->setToolTip(tr("%1 keeps every sample as it is").arg(kind));
    }
    if (!listed) return;
    const std::optional<int> chosen = measure == TAudioMeasure::Quality ? vorbisQuality_ : flacCompression_;
    CboQuality->clear();
    CboQuality->addItem(TranslatedMessage("Automatic"));
    for (int value : values) {
        CboQuality->addItem(QString::number(value));
        if (chosen == value) CboQuality->setCurrentIndex(CboQuality->count() - 1);
    }
    CboQuality->setToolTip(measure == TAudioMeasure::Quality
                               ? tr("From -1 (smallest) to 10 (best); Automatic is 3, about 112 kbps for stereo")
                               : tr("From 0 (fastest) to 12 (smallest file); the sound is the same"));
}

std::optional<int> TForm1::MeasureChoice(TAudioMeasure measure) const {
    if (measure != measure_) return measure == TAudioMeasure::Quality ? vorbisQuality_ : flacCompression_;
    const std::vector<int> values = AudioMeasureValues(measure);
    const int item = CboQuality->currentIndex();
    if (item < 1 || static_cast<size_t>(item) > values.size()) return std::nullopt;
    return values[static_cast<size_t>(item) - 1];
}

TForm1::TAudioItems TForm1::AudioItemsOf(TAudioList list) const {
    if (list != audioList_) return hiddenAudio_;
    return {CboChannels->currentIndex(), CboAudioBitrate->currentIndex(), CboAudioSampleRate->currentIndex()};
}

// Bars are cut where the picture's size is free (MP4); any video can be deinterlaced.
void TForm1::ShowPictureChoices(const TOutputKind& kind) {
    ChkRemoveBlackBars->setEnabled(kind.size_limit);
    ChkRemoveBlackBars->setToolTip(
        kind.size_limit ? tr("Black bands at the edges of every sampled picture are cut off")
                        : tr("%1 keeps the whole picture").arg(CboFormat->currentText()));
    LblDeinterlace->setEnabled(kind.needs_video);
    CboDeinterlace->setEnabled(kind.needs_video);
}

// The names the rows will be written under, by the run's own rule.
void TForm1::ShowPlannedNames() {
    if (runState_ != TRunState::Idle) return;
    planWaiting_ = false;
    TFileReader::TPlanned planned{++planTicket_, {}};
    const std::vector<TListedFile> files = PlanInputs();
    const std::vector<std::string> paths = PlanOutputPaths(files, PlanChoice(), OutputFolder());
    for (size_t i = 0; i < files.size(); ++i) planned.Names.emplace_back(files[i].Id, paths[i]);
    ShowPlanned(planned);
}

void TForm1::PlanInBackground() {
    if (runState_ != TRunState::Idle || !reader_) return;
    planWaiting_ = true;
    reader_->Plan(++planTicket_, PlanInputs(), PlanChoice(), OutputFolder());
}

// What planning reads of the rows: their paths, in order.
std::vector<TListedFile> TForm1::PlanInputs() const {
    std::vector<TListedFile> files(static_cast<size_t>(jobs_->Count()));
    for (int row = 0; row < jobs_->Count(); ++row) {
        const TListedFile& file = jobs_->Row(row).File;
        TListedFile& input = files[static_cast<size_t>(row)];
        input.Id = file.Id;
        input.Path = file.Path;
        input.Subfolder = file.Subfolder;
    }
    return files;
}

void TForm1::ShowPlanned(const TFileReader::TPlanned& planned) {
    // Only the latest plan counts; a run shows the names it writes.
    if (planned.Ticket != planTicket_) return;
    planWaiting_ = false;
    if (runState_ == TRunState::Idle) jobs_->SetOutputs(planned.Names);
}

TPlanChoice TForm1::PlanChoice() const { return PlanChoiceOf(SettingsFromControls()); }

TPictureSize TForm1::MaxPicture() const {
    const int item = CboMaxPicture->currentIndex();
    const bool listed = item >= 0 && static_cast<size_t>(item) < MaxPictureChoices().size();
    return listed ? MaxPictureChoices()[static_cast<size_t>(item)] : TPictureSize{};
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
    // The size of the last session, or what the contents ask for, within the screen.
    // A size saved while squeezed (below what the contents ask for), or on a
    // larger screen, would leave every later start cramped or cut: not this time.
    const QSize screenSize = screen() ? screen()->availableGeometry().size() : QSize(INT_MAX, INT_MAX);
    const QSize comfortable = sizeHint().boundedTo(screenSize);
    const bool storedFits = storedSize_.isValid() && storedSize_.width() >= comfortable.width() &&
                            storedSize_.height() >= comfortable.height() &&
                            storedSize_.width() <= screenSize.width() && storedSize_.height() <= screenSize.height();
    resize((storedFits ? storedSize_ : comfortable).expandedTo(minimumSizeHint()));
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TForm1::FormCloseQuery() {
    if (closed_) return;
    closed_ = true;
    // No event reaches the window any more, and no worker waits for it; the
    // reader's probes go before the libraries.
    calls_.Close();
    reader_.reset();
    run_.reset();
    engine_->SetOnLog(nullptr);
    engine_->StopConvert();
    // The libraries must not go while a worker still runs in them: clearing the
    // tasks waits for it.
    engine_->ClearTasks();
    engine_->UnloadLibraries();
    runState_ = TRunState::Idle;
    WriteSettingsFromControls();
}

// ---- job list ----

void TForm1::SetStatus(int row, const std::string& text, const QString& why) { jobs_->SetStatus(row, text, why); }

void TForm1::SetOutputName(int row, const std::string& path) { jobs_->SetOutput(row, path); }

void TForm1::AddFiles(const std::vector<std::string>& paths) {
    if (runState_ != TRunState::Idle) return;  // the list is only read during a run
    if (paths.empty()) return;
    if (!reader_)
        reader_ = std::make_unique<TFileReader>(ReaderThreads(), ReadFile, [this] {
            QMetaObject::invokeMethod(this, [this] { Guarded([&] { TakeReadings(ReadingsAtOnce); }); },
                                      Qt::QueuedConnection);
        });
    readIdle_ = false;
    // A folder's files are read when they are converted; its outputs mirror its tree.
    reader_->Add(paths, ListingRootsFor(PlanChoice(), OutputFolder()));
}

void TForm1::TakeReadings(size_t most) {
    if (!reader_) return;
    TFileReader::TNews news = reader_->Take(most);
    std::vector<TJobRow> rows;
    for (TFileReader::TListed& listed : news.Listed)
        rows.push_back({std::move(listed.File), listed.ToRead ? WaitingStatus : "", {}, ""});
    unplanned_ |= !rows.empty();
    jobs_->Append(std::move(rows));
    refusing_.insert(refusing_.end(), news.Refused.begin(), news.Refused.end());
    ShowReadFiles(std::move(news.Read));
    ShowCount();
    const bool listed = !news.Rest && !reader_->Listing();
    if (news.Planned) ShowPlanned(*news.Planned);
    // Planning looks at every row: names are planned once the addition is
    // listed, and again when it has been read if rows went meanwhile.
    if (unplanned_ && listed && (!news.Listed.empty() || news.Idle)) {
        unplanned_ = false;
        PlanInBackground();
    }
    if (news.Idle) {
        readIdle_ = true;
        AdditionRead();
    }
    if (listed && startWhenListed_) {
        startWhenListed_ = false;
        BtnStartClick();
    }
}

void TForm1::ShowReadFiles(std::vector<TListedFile> files) {
    std::vector<int> unreadable;
    for (TListedFile& file : files) {
        const int row = jobs_->RowOf(file.Id);
        if (row < 0) continue;  // removed since
        // Rows stay put during a run; one that cannot be read fails there.
        if (file.Readable || runState_ != TRunState::Idle) {
            if (jobs_->Row(row).Status == WaitingStatus) SetStatus(row, "");
            jobs_->SetFile(row, std::move(file));
            continue;
        }
        refusing_.push_back(
            {file.Id, file.Path, "", TFileOutcome::Refused, TReason::InputUnreadable, file.Problem, -1, -1});
        unreadable.push_back(row);
    }
    std::sort(unreadable.rbegin(), unreadable.rend());
    for (int row : unreadable) jobs_->Remove(row);
    unplanned_ |= !unreadable.empty();
}

void TForm1::AdditionRead() {
    // The names given first come first, whichever thread read them.
    std::stable_sort(refusing_.begin(), refusing_.end(), [](const TFileRecord& a, const TFileRecord& b) {
        return (a.Id != 0) < (b.Id != 0) || (a.Id != 0 && b.Id != 0 && a.Id < b.Id);
    });
    listingRefusals_ = std::move(refusing_);
    refusing_.clear();
    // What cannot be listed is told once for the whole addition.
    QStringList problems;
    for (const TFileRecord& record : listingRefusals_) problems << Q(record.Input) + ": " + RecordText(record);
    if (!problems.isEmpty())
        dialogs_.ShowMessage(this, S(problems.join('\n')), S(TranslatedMessage("Error")), TMessageIcon::Error);
}

void TForm1::ShowCount() {
    const int count = jobs_->Count();
    LblCount->setText(count == 1 ? tr("1 file") : tr("%Ln files", "", count));
}

void TForm1::BtnAddClick() {
    const std::vector<std::string> files =
        dialogs_.ChooseFiles(this, S(tr("Choose Files to Convert")), OpenFilter(), lastAddFolder_);
    if (files.empty()) return;
    lastAddFolder_ = fs::path(files.front()).parent_path().string();
    AddFiles(files);
}

void TForm1::BtnAddFolderClick() {
    const std::string folder = dialogs_.ChooseFolder(this, S(tr("Choose a Folder to Convert")), lastAddFolder_);
    if (folder.empty()) return;
    lastAddFolder_ = folder;
    AddFiles({folder});
}

void TForm1::BtnRemoveClick() {
    // Taken first: the selection follows the current row as rows go. A file
    // being read when its row goes is let be.
    std::vector<int> selected;
    for (const QModelIndex& index : Lvw->selectionModel()->selectedRows()) selected.push_back(index.row());
    std::sort(selected.rbegin(), selected.rend());
    for (int row : selected) jobs_->Remove(row);
    ShowCount();
    ShowPlannedNames();
}

void TForm1::BtnClearClick() {
    if (reader_) reader_->Drop();
    // An addition being read is given up with its rows, and tells nothing.
    readIdle_ = true;
    startWhenListed_ = planWaiting_ = unplanned_ = false;
    refusing_.clear();
    jobs_->Clear();
    ShowCount();
}

void TForm1::MoveRow(int from, int to) {
    if (to < 0 || to >= jobs_->Count()) return;
    jobs_->Move(from, to);
    Lvw->setCurrentIndex(jobs_->index(to, 0));
    Lvw->selectRow(to);
    Lvw->scrollTo(jobs_->index(to, 0), QAbstractItemView::EnsureVisible);
}

int TForm1::SelectedRow() const {
    const QModelIndexList rows = Lvw->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TForm1::BtnMoveUpClick() {
    const int row = SelectedRow();
    if (row > 0) MoveRow(row, row - 1);
}

void TForm1::BtnMoveDownClick() {
    const int row = SelectedRow();
    if (row >= 0 && row < jobs_->Count() - 1) MoveRow(row, row + 1);
}

void TForm1::BtnChangeOutputFolderClick() {
    const std::string folder = dialogs_.ChooseFolder(this, S(tr("Please select output folder")), OutputFolder());
    if (folder.empty()) return;
    chosenFolder_ = IncludeTrailingSeparator(folder);
    ShowOutputFolder();
    ShowPlannedNames();
}

// ---- batch run ----

void TForm1::SetControlsIdle(bool idle) {
    // "Show preview" stays: pictures can be looked at or not while they are made; so do About and Help.
    for (QWidget* w : std::initializer_list<QWidget*>{BtnAdd, BtnAddFolder, BtnRemove, BtnClear, BtnMoveUp,
                                                      BtnMoveDown, BtnChangeOutputFolder, GBOutput, LblExisting,
                                                      CboExisting, ChkNextToSource, ChkShutdown, ChkCopyTags,
                                                      LblSimultaneous, SpnSimultaneous})
        w->setEnabled(idle);
    if (idle) ShowOutputFolder();
    for (QWidget* w : std::initializer_list<QWidget*>{LblProgress, BtnPause}) w->setVisible(!idle);
    // The batch's line stays after its run, telling how it went.
    for (QWidget* w : std::initializer_list<QWidget*>{PbBatch, LblBatch}) w->setVisible(!idle || progress_.Files() > 0);
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
    if (runState_ != TRunState::Idle) return;
    // The click is taken up once every name given is listed, so that the run has all of them.
    if (reader_ && reader_->Listing()) {
        startWhenListed_ = true;
        return;
    }
    if (jobs_->Count() == 0) {
        Message("Please select files to be converted.", "Information", TMessageIcon::Information);
        return;
    }
    // After a stopped or partly failed run, the rows not converted; numbering
    // the others again would only make copies beside them.
    bool all = true;
    for (int row = 0; row < jobs_->Count() && all; ++row) all = RowConverted(row);
    if (all && !ConfirmConvertingAgain()) return;
    StartRun(all);
}

bool TForm1::RowConverted(int row) const {
    const auto outcome = lastOutcomes_.find(RowFile(row));
    return outcome != lastOutcomes_.end() && outcome->second;
}

bool TForm1::ConfirmConvertingAgain() {
    const int answer = dialogs_.Ask(
        this, S(tr("Every file in the list has been converted already. Convert them all again?")), AppTitle,
        {S(tr("Convert &again")), S(tr("&Cancel"))});
    return answer == 0;
}

void TForm1::StartRun(bool all) {
    calls_.Close();  // whatever an earlier run still had queued is dropped
    // Files not read yet are read by the run, as a folder's are; what has been
    // read and not shown yet is shown first, so that no file is read twice.
    if (reader_) {
        reader_->StopReading();
        TakeReadings(std::numeric_limits<size_t>::max());
    }
    std::vector<TListedFile> files;
    runRows_.clear();
    for (int row = 0; row < jobs_->Count(); ++row) {
        if (!all && RowConverted(row)) continue;
        runRows_[RowFile(row)] = {row, static_cast<int>(files.size())};
        files.push_back(jobs_->Row(row).File);
    }
    // Told on the engine's threads, which never wait for the window: a Stop
    // pressed while a file ends would otherwise wait for that very thread.
    run_ = std::make_unique<TBatchRun>(*engine_, [this](TRunNews) {
        calls_.Post([this] { Guarded([&] { TakeRunUpdate(); }); });
    });
    calls_.Open();
    std::string problem;
    const int simultaneous = simultaneousChosen_
                                 ? SimultaneousConversions()
                                 : DefaultSimultaneous(files, ProcessorCount(), AvailableMemoryBytes());
    const TRunRequest request{PlanChoice(), OutputFolder(), simultaneous};
    if (!run_->Start(files, request, problem)) {
        calls_.Close();
        run_.reset();
        // The rows not read are left to the next run.
        for (int row = 0; row < jobs_->Count(); ++row)
            if (jobs_->Row(row).Status == WaitingStatus) SetStatus(row, "");
        // One message for a folder that cannot take the files, rather than one per file.
        Message("Cannot write to the output folder \"" + OutputFolder() + "\": " + problem + ".", "Error",
                TMessageIcon::Error);
        return;
    }
    for (const auto& [id, run_row] : runRows_) SetStatus(run_row.row, " ");
    summary_.Clear();
    lastShownRow_ = -1;
    LblProgress->clear();
    SetControlsIdle(false);
    runState_ = TRunState::Running;
    std::vector<int64_t> durations, sizes;
    for (const TListedFile& file : files) {
        durations.push_back(file.DurationUs < 0 ? -1 : file.DurationUs / 1000);
        sizes.push_back(file.SizeBytes);
    }
    clock_.start();
    progress_.Start(durations, Now(), sizes);
    ShowStartCaption(true);
    ShowPauseState();
    ShowBatchProgress();
    tick_.start();
    TakeRunUpdate();
}

void TForm1::StopRun() {
    runState_ = TRunState::Stopping;
    BtnStart->setEnabled(false);
    ShowPauseState();
    run_->Stop();
    TakeRunUpdate();  // a run between two files of the engine is over at once
    // Stopped files end within moments: the window waits for them, so that
    // every row tells how its file ended before anything else can be done.
    if (!run_) return;
    QEventLoop wait;
    stopWait_ = &wait;
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    stopWait_ = nullptr;
}

// What the run has to tell since the last look, on the window's thread.
void TForm1::TakeRunUpdate() {
    if (!run_) return;
    const TRunUpdate update = run_->Take();
    for (const TFileRecord& record : update.Planned)
        if (const auto row = runRows_.find(record.Id); row != runRows_.end()) SetOutputName(row->second.row, record.Output);
    // A file's last progress comes before its end.
    for (const TFileProgress& p : update.Progress) ShowFileProgress(p);
    for (const TFileRecord& record : update.Ended) {
        ShowRecord(record);
        summary_.Add(record);
    }
    if (update.Ended.size() + update.Progress.size() > 0) ShowBatchProgress();
    if (update.Over) {
        summary_.AddNotReached(update.NotReached);
        CompleteRun();
        return;
    }
    // Planning goes on after what is waiting on the window's thread.
    if (update.TakeAgain) QTimer::singleShot(0, this, [this] { Guarded([&] { TakeRunUpdate(); }); });
}

void TForm1::ShowRecord(const TFileRecord& record) {
    const auto found = runRows_.find(record.Id);
    if (found == runRows_.end()) return;
    const int slot = found->second.slot;
    const int row = found->second.row;
    // The batch's share: what was not read weighs nothing, what was stopped counts as far as it got.
    if (record.Outcome == TFileOutcome::Stopped || record.Outcome == TFileOutcome::NotStarted)
        progress_.FileStopped(slot);
    else if (record.Reason == TReason::InputUnreadable && record.Outcome == TFileOutcome::Refused)
        progress_.FileDropped(slot);
    else
        progress_.FileEnded(slot);
    lastOutcomes_[record.Id] = record.Converted() || record.Outcome == TFileOutcome::Skipped;
    switch (record.Outcome) {
        case TFileOutcome::Completed:
        case TFileOutcome::EndedEarly:
            // A cut file must not pass for a whole one: the row says how much was converted.
            SetStatus(row, record.Text.empty() ? "Completed" : "Completed (" + record.Text + ")");
            SetOutputName(row, record.Output);
            break;
        case TFileOutcome::Failed:
        case TFileOutcome::Refused:
            // Told in its row and in the summary: an unattended batch goes on.
            SetStatus(row, "Failed", RecordText(record));
            break;
        case TFileOutcome::Stopped:
            // A shorter file kept under its name must not pass for a whole one either.
            SetStatus(row, record.Output.empty() ? "Stopped" : "Stopped (" + record.Text + ")");
            if (!record.Output.empty()) SetOutputName(row, record.Output);
            break;
        case TFileOutcome::Skipped:
            SetStatus(row, "Skipped", RecordText(record));
            SetOutputName(row, record.Output);
            break;
        case TFileOutcome::NotStarted: break;
    }
}

void TForm1::CompleteRun() {
    const bool stopped = runState_ == TRunState::Stopping;
    stoppedRun_ = stopped;
    calls_.Close();
    tick_.stop();
    run_.reset();
    if (stopWait_) stopWait_->quit();
    runState_ = TRunState::Idle;
    ShowStartCaption(false);
    BtnStart->setEnabled(true);
    ShowPauseState();
    ShowBatchProgress();
    SetControlsIdle(true);
    Lvw->viewport()->update();
    // Every file has been dealt with, failed ones too: an overnight batch with a
    // broken file still ends with the computer off. Nothing shown holds it up.
    // A batch the user stopped neither powers off nor calls for attention, but
    // its summary tells what it did.
    if (!stopped && ChkShutdown->isChecked() && summary_.RanToTheEnd()) shutdown_.PowerOff();
    if (!stopped && Now() >= NotifyAfterMs && !isActiveWindow()) {
        const int failed = summary_.Failures();
        const QString counts = failed == 0 ? tr("%1 of %2 files converted.").arg(summary_.Converted()).arg(summary_.Total())
                                           : tr("%1 of %2 files converted, %3 failed.")
                                                 .arg(summary_.Converted())
                                                 .arg(summary_.Total())
                                                 .arg(failed);
        dialogs_.Notify(S(tr("Conversion finished")), S(counts));
    }
    // Beside the sources there is no one output folder: the first file's is shown.
    std::string folder = ChkNextToSource->isChecked() ? std::string() : OutputFolder();
    for (const TFileRecord& e : summary_.ConvertedFiles())
        if (folder.empty()) folder = fs::path(e.Output).parent_path().string();
    dialogs_.ShowSummary(this, S(tr("Ardentix: conversion finished")), SummaryText(), folder);
}

// A record's reason in the user's language: its code's caption, then the details as written.
QString TForm1::RecordText(const TFileRecord& record) const {
    const QString caption = ReasonCaptionText(record.Reason);
    // The file is named where the record is shown: its details need not name it again.
    std::string details = record.Text;
    if (details.rfind(record.Input + ": ", 0) == 0) details.erase(0, record.Input.size() + 2);
    if (details.empty()) return caption;
    return caption.isEmpty() ? Q(details) : caption + ": " + Q(details);
}

// The words of the summary: the counts, then each failure with its reason, then
// what was written, one file a line so that the list can be copied as it is.
std::string TForm1::SummaryText() const {
    QString text = TranslatedMessage("File conversion process finished.") + "\n";
    const int total = summary_.Total();
    text += (total == 1 ? tr("1 file") : tr("%1 files").arg(total)) + ": " +
            tr("%1 converted, %2 failed.").arg(summary_.Converted()).arg(summary_.Failures()) + "\n";
    if (const int skipped = summary_.Count(TFileOutcome::Skipped))
        text += tr("%1 skipped: their outputs exist already.").arg(skipped) + "\n";
    const std::vector<TFileRecord> failed = summary_.FailedFiles();
    if (!failed.empty()) text += "\n" + tr("Failed:") + "\n";
    for (const TFileRecord& e : failed) text += "  " + Q(e.Input) + ": " + RecordText(e) + "\n";
    const std::vector<TFileRecord> converted = summary_.ConvertedFiles();
    if (!converted.empty()) text += "\n" + tr("Converted:") + "\n";
    for (const TFileRecord& e : converted)
        text += "  " + Q(e.Input) + " \u2192 " + Q(e.Output) +
                (e.Text.empty() ? QString() : " (" + TranslatedMessage(e.Text) + ")") + "\n";
    const std::vector<TFileRecord> shorter = summary_.KeptShorter();
    if (!shorter.empty()) text += "\n" + tr("Stopped, kept shorter than the input:") + "\n";
    for (const TFileRecord& e : shorter) text += "  " + Q(e.Output) + " (" + TranslatedMessage(e.Text) + ")\n";
    return S(text);
}

void TForm1::ShowBatchProgress() {
    const TBatchProgress& p = progress_;
    PbBatch->setValue(p.Percent());
    // After a stop the line tells what was done, not a file and a time still to come.
    if (runState_ == TRunState::Idle && stoppedRun_) {
        LblBatch->setText(tr("Stopped \u00b7 %1 of %2 files converted \u00b7 %3% \u00b7 %4 elapsed")
                              .arg(summary_.Converted())
                              .arg(p.Files())
                              .arg(p.Percent())
                              .arg(Q(ClockText(p.ElapsedMs(Now())))));
        return;
    }
    const QString files = p.Running() > 1 ? tr("Files %1\u2013%2 of %3")
                                                .arg(p.Started() - p.Running() + 1)
                                                .arg(p.Started())
                                                .arg(p.Files())
                                          : tr("File %1 of %2").arg(std::max(1, p.Started())).arg(p.Files());
    const int64_t left = p.RemainingMs(Now());
    const QString remaining = p.Paused() ? tr("paused")
                              : left < 0 ? tr("estimating the time left")
                                         : tr("about %1 left").arg(Q(ClockText(left)));
    LblBatch->setText(tr("%1 \u00b7 %2% \u00b7 %3 elapsed \u00b7 %4")
                          .arg(files)
                          .arg(p.Percent())
                          .arg(Q(ClockText(p.ElapsedMs(Now()))))
                          .arg(remaining));
}

std::string TForm1::ProgressLine(int slot, const TFileProgress& p) const {
    // Frames mean something for video only; sound is told by its time and speed.
    if (p.Frame >= 0)
        return S(tr("Current Frame=%1 Time=%2 FPS=%3").arg(p.Frame).arg(p.CurrentMs / 1000).arg(p.Fps));
    QString line = Q(ClockText(p.CurrentMs));
    if (p.TotalMs > 0) line = tr("%1 of %2").arg(line, Q(ClockText(p.TotalMs)));
    const double speed = progress_.FileSpeed(slot, Now());
    if (speed > 0) line += " \u00b7 " + tr("%1\u00d7 real time").arg(SpeedText(speed));
    return S(line);
}

void TForm1::ShowFileProgress(const TFileProgress& p) {
    const auto found = runRows_.find(p.Id);
    if (runState_ == TRunState::Idle || found == runRows_.end()) return;
    const int row = found->second.row;
    const int slot = found->second.slot;
    // A record written just before a pause does not hide that the file waits.
    if (run_ && run_->Paused())
        SetStatus(row, "Paused");
    else
        SetStatus(row, p.Frame >= 0 ? VideoProgressStatusText(p.CurrentMs, p.TotalMs, p.Frame, p.Fps)
                                    : ProgressStatusText(p.CurrentMs, p.TotalMs));
    const int started = progress_.Started();
    progress_.FileProgress(slot, p.CurrentMs, p.TotalMs, Now());
    LblProgress->setText(Q(ProgressLine(slot, p)));
    // The list follows the file that began last.
    if (progress_.Started() != started && row != lastShownRow_) {
        lastShownRow_ = row;
        Lvw->scrollTo(jobs_->index(row, 0));
    }
}

void TForm1::BtnPauseClick() {
    if (runState_ != TRunState::Running || !run_) return;
    if (run_->Paused())
        run_->Resume();
    else
        run_->Pause();
    // The clock of the batch line stops with the files (a run that was ending
    // does not pause), so a pause counts in no estimate.
    if (run_->Paused())
        progress_.Pause(Now());
    else
        progress_.Resume(Now());
    // The files held say so until their next record after a resume.
    if (run_->Paused())
        for (const auto& [id, run_row] : runRows_)
            if (progress_.IsRunning(run_row.slot)) SetStatus(run_row.row, "Paused");
    ShowPauseState();
    ShowBatchProgress();
}

void TForm1::ShowPauseState() {
    const bool paused = run_ && run_->Paused();
    BtnPause->setText(paused ? tr("&Resume") : tr("&Pause"));
    BtnPause->setAccessibleName(paused ? tr("Resume") : tr("Pause"));
    BtnPause->setEnabled(runState_ == TRunState::Running);
}

// ---- about and help ----

void TForm1::BtnAboutClick() {
    TFrmAbout about(this);
    about.exec();
}

void TForm1::BtnHelpClick() {
    if (dialogs_.OpenDocument(helpFile_)) return;
    // Without a program for web pages the user can still open the guide by hand.
    dialogs_.ShowMessage(this,
                         S(tr("No program was found to open the guide (the package xdg-utils provides one). "
                              "The guide is the file:\n%1")
                               .arg(Q(helpFile_))),
                         AppTitle, TMessageIcon::Information);
}

// ---- where outputs go ----

void TForm1::BuildPlaceChoices() {
    LblExisting = NewLabel("LblExisting", tr("If an &output exists: "));
    CboExisting = new QComboBox(this);
    CboExisting->setObjectName("CboExisting");
    CboExisting->addItems(Items(ExistingOutputsItems()));
    CboExisting->setToolTip(tr("Skip: a file already at the output's name counts as converted, so a stopped "
                               "batch started again converts only the files still missing"));
    ChkNextToSource = new QCheckBox(tr("Save ne&xt to each source file"), this);
    ChkNextToSource->setObjectName("ChkNextToSource");
    ChkNextToSource->setToolTip(tr("Each output goes to the folder of its source file instead of the output folder"));
}

void TForm1::ConnectPlaceChoices() {
    LblExisting->setBuddy(CboExisting);
    connect(CboExisting, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { ShowPlannedNames(); }); });
    connect(ChkNextToSource, &QCheckBox::toggled, this, [this] {
        Guarded([&] {
            ShowOutputFolder();
            ShowPlannedNames();
        });
    });
    // What is written: every choice of the output group, whichever there are, and the tags.
    for (QComboBox* box : GBOutput->findChildren<QComboBox*>())
        connect(box, &QComboBox::currentIndexChanged, this, [this] { ForgetOutcomes(); });
    connect(ChkCopyTags, &QCheckBox::toggled, this, [this] { ForgetOutcomes(); });
}

void TForm1::ShowOutputFolder() {
    const bool beside = ChkNextToSource->isChecked();
    EdtOutputFolder->setText(Q(chosenFolder_.empty() ? DefaultOutputFolder(paths_.Folders, *OutputChoice().kind)
                                                     : chosenFolder_));
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, EdtOutputFolder, BtnChangeOutputFolder})
        w->setEnabled(!beside && runState_ == TRunState::Idle);
}

void TForm1::ForgetOutcomes() {
    if (runState_ != TRunState::Idle || lastOutcomes_.empty()) return;
    lastOutcomes_.clear();
    for (int row = 0; row < jobs_->Count(); ++row) {
        const std::string& status = jobs_->Row(row).Status;
        if (status.rfind("Completed", 0) == 0 || status == "Skipped") SetStatus(row, "");
    }
}
