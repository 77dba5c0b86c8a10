#include "app/QtDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                                            TMessageIcon icon) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(Q(title));
    box->setTextFormat(Qt::PlainText);
    box->setText(Q(text));
    switch (icon) {
        case TMessageIcon::Information: box->setIcon(QMessageBox::Information); break;
        case TMessageIcon::Warning: box->setIcon(QMessageBox::Warning); break;
        case TMessageIcon::Error: box->setIcon(QMessageBox::Critical); break;
    }
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

// Escaped, and on one line with every space kept, as a file name is written.
QString PlainToolTip(const QString& text) {
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

TSummaryDialog::TSummaryDialog(QWidget* owner, const QString& title, const QString& text, const QString& folder,
                               std::function<void(const QString&)> open)
    : QDialog(owner) {
    setObjectName("FrmSummary");
    setWindowTitle(title);
    Text = new QPlainTextEdit(text, this);
    Text->setObjectName("MemSummary");
    Text->setReadOnly(true);
    // Long names wrap rather than hide past the edge.
    Text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Text->setAccessibleName(tr("Summary of the conversion"));
    BtnCopy = new QPushButton(tr("&Copy"), this);
    BtnCopy->setObjectName("BtnCopy");
    BtnCopy->setAutoDefault(false);
    BtnClose = new QPushButton(tr("Close"), this);
    BtnClose->setObjectName("BtnClose");
    BtnClose->setDefault(true);
    connect(BtnCopy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(Text->toPlainText()); });
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);
    BtnOpenFolder = new QPushButton(tr("&Open folder"), this);
    BtnOpenFolder->setObjectName("BtnOpenFolder");
    BtnOpenFolder->setAutoDefault(false);
    BtnOpenFolder->setVisible(!folder.isEmpty());
    BtnOpenFolder->setToolTip(folder);
    connect(BtnOpenFolder, &QPushButton::clicked, this, [folder, open] {
        if (open) open(folder);
    });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BtnOpenFolder);
    buttons->addStretch(1);
    buttons->addWidget(BtnCopy);
    buttons->addWidget(BtnClose);
    auto* main = new QVBoxLayout(this);
    main->addWidget(Text, 1);
    main->addLayout(buttons);
    // Wide enough for a path and its output on one line where the screen allows.
    int widest = 0;
    for (const QString& line : text.split('\n')) widest = std::max(widest, Text->fontMetrics().horizontalAdvance(line));
    const int room = screen() ? screen()->availableGeometry().width() * 9 / 10 : 1200;
    resize(std::clamp(widest + 64, Text->fontMetrics().averageCharWidth() * 90, std::max(room, 400)),
           Text->fontMetrics().height() * 20);
}

void TQtDialogs::ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                             TMessageIcon icon) {
    MakeMessageBox(owner, text, title, icon)->exec();
}

int TQtDialogs::Ask(QWidget* owner, const std::string& text, const std::string& title,
                    const std::vector<std::string>& buttons) {
    QMessageBox box(owner);
    box.setWindowTitle(Q(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(Q(text));
    box.setIcon(QMessageBox::Question);
    std::vector<QPushButton*> made;
    for (const std::string& b : buttons) made.push_back(box.addButton(Q(b), QMessageBox::ActionRole));
    if (made.empty()) return -1;
    // Return and Escape both take the answer that changes nothing.
    box.setDefaultButton(made.back());
    box.setEscapeButton(made.back());
    box.exec();
    for (size_t i = 0; i < made.size(); ++i)
        if (box.clickedButton() == made[i]) return static_cast<int>(i);
    return static_cast<int>(made.size()) - 1;
}

void TQtDialogs::ShowSummary(QWidget* owner, const std::string& title, const std::string& text,
                             const std::string& folder) {
    // The window owns it: a second batch's summary comes beside the first, and
    // closing the window takes them along.
    auto* dialog = new TSummaryDialog(owner, Q(title), Q(text), Q(folder),
                                      [this](const QString& f) { OpenDocument(f.toStdString()); });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

std::vector<std::string> TQtDialogs::ChooseFiles(QWidget* owner, const std::string& title, const std::string& filter,
                                                 const std::string& folder) {
    std::vector<std::string> files;
    const QStringList chosen = QFileDialog::getOpenFileNames(owner, Q(title), Q(folder), Q(filter));
    for (const QString& f : chosen) files.push_back(f.toStdString());
    return files;
}

std::string TQtDialogs::ChooseFolder(QWidget* owner, const std::string& prompt, const std::string& folder) {
    return QFileDialog::getExistingDirectory(owner, Q(prompt), Q(folder), QFileDialog::ShowDirsOnly).toStdString();
}

bool TQtDialogs::OpenDocument(const std::string& path) {
    // The desktop's opener, asked directly: it may be there with nothing behind
    // it ("no method available"), which only its exit status tells. One still
    // at work after a moment has handed the guide on, and goes on by itself.
    auto* opener = new QProcess(qApp);
    opener->start("xdg-open", {QUrl::fromLocalFile(Q(path)).toString()});
    if (!opener->waitForStarted(2000)) {
        opener->deleteLater();
        return false;
    }
    if (!opener->waitForFinished(1500)) {
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        return true;
    }
    opener->deleteLater();
    return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
}

// The freedesktop notification call, sent without waiting for an answer: a
// missing or slow service never holds the window.
void TQtDialogs::Notify(const std::string& title, const std::string& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QString("Ardentix") << 0u << QString("ardentix") << Q(title) << Q(text) << QStringList()
         << QVariantMap() << -1;
    bus.send(call);
}
