#include "ui/app/Prompter.h"

#include "common/Caption.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

namespace ondrel::ui {

namespace {
Prompter g_default;
Prompter* g_current = &g_default;

QString caption() { return QString::fromUtf8(kProductCaption); }

// The last folder a picker opened in, kept in the application's settings.
QString lastFolder(const char* key) { return QSettings().value(key).toString(); }
void rememberFolder(const char* key, const QString& folder) { QSettings().setValue(key, folder); }
}  // namespace

void Prompter::information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, caption(), text);
}

bool Prompter::question(QWidget* parent, const QString& text, bool informationIcon) {
    QMessageBox box(informationIcon ? QMessageBox::Information : QMessageBox::Question, caption(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString Prompter::openFile(QWidget* parent, const QString& filter) {
    QString path = QFileDialog::getOpenFileName(parent, caption(), lastFolder("paths/images"), filter);
    if (!path.isEmpty()) rememberFolder("paths/images", QFileInfo(path).absolutePath());
    return path;
}

QString Prompter::saveFile(QWidget* parent, const QString& filter) {
    QString path = QFileDialog::getSaveFileName(parent, caption(), lastFolder("paths/settings"), filter, nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) rememberFolder("paths/settings", QFileInfo(path).absolutePath());
    return path;
}

QString Prompter::chooseFolder(QWidget* parent) {
    QString folder = QFileDialog::getExistingDirectory(parent, QStringLiteral("Please choose a folder."),
                                                       lastFolder("paths/output"), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) rememberFolder("paths/output", folder);
    return folder;
}

void Prompter::openUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

void Prompter::quit() { QCoreApplication::quit(); }

Prompter& prompter() { return *g_current; }
void setPrompter(Prompter* replacement) { g_current = replacement ? replacement : &g_default; }

}  // namespace ondrel::ui
