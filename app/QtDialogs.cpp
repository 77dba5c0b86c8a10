#include "app/QtDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                                            TMessageIcon icon) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(QString::fromStdString(title));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(text));
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

void TQtDialogs::ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                             TMessageIcon icon) {
    MakeMessageBox(owner, text, title, icon)->exec();
}

std::vector<std::string> TQtDialogs::ChooseFiles(QWidget* owner, const std::string& title,
                                                 const std::string& filter) {
    std::vector<std::string> files;
    const QStringList chosen = QFileDialog::getOpenFileNames(owner, QString::fromStdString(title), QString(),
                                                             QString::fromStdString(filter));
    for (const QString& f : chosen) files.push_back(f.toStdString());
    return files;
}

std::string TQtDialogs::ChooseFolder(QWidget* owner, const std::string& prompt) {
    return QFileDialog::getExistingDirectory(owner, QString::fromStdString(prompt), QString(),
                                             QFileDialog::ShowDirsOnly)
        .toStdString();
}

void TQtDialogs::OpenDocument(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}
