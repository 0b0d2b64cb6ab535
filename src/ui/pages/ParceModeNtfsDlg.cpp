#include "ui/pages/ParceModeNtfsDlg.h"

#include "fs/FileSystemRegistry.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/VolumeScanDlg.h"
#include "ui/pages/advanceOptions.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace ondrel::ui {

ParceModeNtfsDlg::ParceModeNtfsDlg(QWidget* parentPage, const VolumeRecord& chosen)
    : WizardPage(parentPage), record(chosen) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Select Recovery Mode:"), this);
    auto* grid = new QGridLayout(group);
    standardMode = new QRadioButton(QStringLiteral("Standard"), group);
    advancedMode = new QRadioButton(QStringLiteral("Advanced"), group);
    deepMode = new QRadioButton(QStringLiteral("Deep"), group);
    grid->addWidget(standardMode, 0, 0, 1, 3);
    grid->addWidget(advancedMode, 1, 0, 1, 3);
    grid->addWidget(deepMode, 2, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Please Enter Max File Systems to Find :"), group), 3, 0);
    maxFileSystemsBox = new QLineEdit(group);
    maxFileSystemsBox->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), this));
    maxFileSystemsBox->setMaximumWidth(80);
    grid->addWidget(maxFileSystemsBox, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("( By  Default  it's  = 3 )"), group), 3, 2);
    driveFormattedCheck = new QCheckBox(QStringLiteral("Is Drive Formated..?"), group);
    grid->addWidget(driveFormattedCheck, 4, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(buttonRow(true));

    connect(standardMode, &QRadioButton::clicked, this, [this] { setMode(1); });
    connect(advancedMode, &QRadioButton::clicked, this, [this] { setMode(2); });
    connect(deepMode, &QRadioButton::clicked, this, [this] { setMode(3); });
    connect(nextButton, &QPushButton::clicked, this, &ParceModeNtfsDlg::onNext);
    connect(backButton, &QPushButton::clicked, this, &ParceModeNtfsDlg::goBack);

    maxFileSystemsBox->setText(QStringLiteral("3"));
    maxFileSystemsBox->setEnabled(false);
    driveFormattedCheck->setEnabled(false);
    // A file system the registry does not know keeps every mode on offer; the
    // results page then says it cannot be read.
    fileSystemEntry = findFileSystem(record.fileSystem);
    if (fileSystemEntry && !fileSystemEntry->offers(RecoveryMode::Deep)) deepMode->hide();
    if (fileSystemEntry && !fileSystemEntry->offers(RecoveryMode::Advanced)) advancedMode->hide();
    setMode(1);
    resize(480, 280);
}

void ParceModeNtfsDlg::setMode(int mode) {
    driveFormattedCheck->blockSignals(true);
    driveFormattedCheck->setChecked(false);
    driveFormattedCheck->blockSignals(false);
    driveFormattedCheck->setEnabled(mode == 2 && fileSystemEntry && fileSystemEntry->formattedFlag);
    maxFileSystemsBox->setEnabled(mode == 2);
    standardMode->setChecked(mode == 1);
    advancedMode->setChecked(mode == 2);
    deepMode->setChecked(mode == 3);
    recoveryMode = mode;
}

void ParceModeNtfsDlg::onNext() {
    if (recoveryMode == 2) {
        auto* next = new advanceOptions(this);
        forwardTo(next);
        screenshot(next, QStringLiteral("5-advanced-input-page"));
        next->start();
        return;
    }
    auto* next = new VolumeScanDlg(this, record, recoveryMode);
    forwardTo(next);
    next->start();
}

}  // namespace ondrel::ui
