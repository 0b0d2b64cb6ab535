#include "ui/pages/RawSettingDlg.h"

#include "carving/DefaultSignatures.h"
#include "common/Caption.h"
#include "carving/SignatureRecord.h"
#include "ui/app/Prompter.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolTip>
#include <QVBoxLayout>

namespace ondrel::ui {

namespace {
const char* kFilter = ".Text Files (*.txt)";
}

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kProductCaption));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("File Setting:"), this);
    auto* grid = new QGridLayout(group);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    int row = 0;
    auto field = [&](const char* label, const char* help, bool numeric) {
        auto* edit = new QLineEdit(group);
        if (numeric) edit->setValidator(digits);
        auto* q = new QPushButton(QStringLiteral("?"), group);
        q->setAutoDefault(false);
        q->setToolTip(QString::fromUtf8(help));
        connect(q, &QPushButton::clicked, q, [q] { QToolTip::showText(q->mapToGlobal(QPoint(0, q->height())), q->toolTip(), q); });
        grid->addWidget(new QLabel(QString::fromUtf8(label), group), row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(q, row++, 2);
        return edit;
    };
    extension = field("File Extention :", "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)", false);
    startSignature = field("Starting Signature :", "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  for png File", false);
    startOffset = field("Starting Signature Offset:", "Here enter offset of starting signature in File.Value should be less than 512.By default its zero.", true);
    endSignature = field("Ending Signature :", "here enter the file signature that happens to be in the end of the file.\n Example 0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know .", false);
    sizeOffset = field("Offset to Size Byte :", "if  the size of file is given in the header and you know its offset please enter that offset here.\n its optional Field .you can leave it if you don't know.", true);
    sizeBytes = field("Number Of Bytes In Size :", "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field .you can leave it ifyou  don't know.", true);
    sizeIncludesHeader = new QCheckBox(QStringLiteral("Size includes header size"), group);
    auto* q = new QPushButton(QStringLiteral("?"), group);
    q->setAutoDefault(false);
    q->setToolTip(QStringLiteral("check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you can leave it if you don't know."));
    grid->addWidget(sizeIncludesHeader, row, 1);
    grid->addWidget(q, row++, 2);
    headerSize = field("Header size :", "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know.", true);
    sizeToSkip = field("Size_to_skip_WhileParsing :", "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional Field .you can leave it .", true);
    approximateSize = field("Approx file size :", "Enter approx file size here.\n its optional Field .you can leave it if you don't know.", true);
    category = field("Put Under Category :", "Enter the name of category you want to put these files under", false);
    layout->addWidget(group);

    auto* pathGroup = new QGroupBox(QStringLiteral("Select Path to Save Entries"), this);
    auto* pathRow = new QHBoxLayout(pathGroup);
    pathBox = new QLineEdit(pathGroup);
    pathBox->setReadOnly(true);
    pickButton = new QPushButton(QStringLiteral("..."), pathGroup);
    saveButton = new QPushButton(QStringLiteral("Save"), pathGroup);
    saveButton->setToolTip(QStringLiteral("Save"));
    pathRow->addWidget(pathBox, 1);
    pathRow->addWidget(pickButton);
    pathRow->addWidget(saveButton);
    layout->addWidget(pathGroup);

    auto* buttons = new QHBoxLayout;
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setToolTip(QStringLiteral("OK"));
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setToolTip(QStringLiteral("Cancel"));
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    for (auto* b : {pickButton, saveButton, okButton, cancelButton}) b->setAutoDefault(false);

    // Without another choice, definitions go to the user's own settings file.
    settingsPath = QString::fromStdString(userSettingsPath());
    pathBox->setText(settingsPath);

    connect(pickButton, &QPushButton::clicked, this, &RawSettingDlg::onPick);
    connect(saveButton, &QPushButton::clicked, this, &RawSettingDlg::onSave);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void RawSettingDlg::onPick() {
    QString path = prompter().saveFile(this, QString::fromUtf8(kFilter));
    QFile file(path);
    // Opened for reading and writing: created when missing, kept when present.
    if (path.isEmpty() || !file.open(QIODevice::ReadWrite)) {
        prompter().information(this, QStringLiteral("File can not be created"));
        return;
    }
    settingsPath = path;
    pathBox->setText(path);
}

void RawSettingDlg::onSave() {
    if (settingsPath.isEmpty()) {
        prompter().information(this, QStringLiteral("Select valid file to save the entries."));
        return;
    }
    SignatureFields f;
    f.extension = extension->text().toStdString();
    f.startSignature = startSignature->text().toStdString();
    f.startOffset = startOffset->text().toStdString();
    f.endSignature = endSignature->text().toStdString();
    f.sizeOffset = sizeOffset->text().toStdString();
    f.sizeBytes = sizeBytes->text().toStdString();
    f.sizeIncludesHeader = sizeIncludesHeader->isChecked();
    f.headerSize = headerSize->text().toStdString();
    f.sizeToSkip = sizeToSkip->text().toStdString();
    f.approximateSize = approximateSize->text().toStdString();
    f.category = category->text().toStdString();
    SignatureRecord record;
    std::string message;
    // The user's file starts as a copy of the definitions in use, which it then adds to.
    if (settingsPath.toStdString() == userSettingsPath() && !ensureUserSettings(message)) {
        prompter().information(this, QString::fromStdString(message));
        return;
    }
    if (buildSignatureRecord(f, static_cast<std::uint64_t>(QFile(settingsPath).size()), record, message))
        appendSignatureRecord(settingsPath.toStdString(), record, message);
    prompter().information(this, QString::fromStdString(message));
}

}  // namespace ondrel::ui
