#include "ui/pages/DriveParsingModes.h"

#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/PopulateDriveDlg.h"
#include "ui/pages/VhdInputDialog.h"
#include "volumes/DiskExport.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace ondrel::ui {

DriveParsingModes::DriveParsingModes(VhdInputDialog* imagePage) : WizardPage(imagePage), imagePage_(imagePage) {
    auto* layout = new QVBoxLayout(this);
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(new QLabel(QStringLiteral("Currently Selected Drive :"), this));
    driveValue = new QLabel(this);
    driveValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    driveRow->addWidget(driveValue, 1);
    layout->addLayout(driveRow);

    auto* gptRow = new QHBoxLayout;
    gptFormat = new QCheckBox(QStringLiteral("GPT format"), this);
    gptRow->addWidget(gptFormat);
    gptRow->addWidget(new QLabel(QStringLiteral("* Check If Partition type is GPT"), this));
    gptRow->addStretch(1);
    layout->addLayout(gptRow);

    auto* modeGroup = new QGroupBox(QStringLiteral("Select Mode:"), this);
    auto* grid = new QGridLayout(modeGroup);
    standardScan = new QRadioButton(QStringLiteral("Standard Scan"), modeGroup);
    advanceScan = new QRadioButton(QStringLiteral("Advance Scan"), modeGroup);
    doNotSkip = new QCheckBox(QStringLiteral("Do not Skip Volume Size While Parsing in Advance  Scan "), modeGroup);
    customSetting = new QCheckBox(QStringLiteral("Custom Setting:"), modeGroup);
    auto* startLabel = new QLabel(QStringLiteral("Starting Sector:"), modeGroup);
    auto* endLabel = new QLabel(QStringLiteral("Ending Sector:"), modeGroup);
    startSectorBox = new QLineEdit(modeGroup);
    endSectorBox = new QLineEdit(modeGroup);
    auto* signedDigits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,18}")), this);
    startSectorBox->setValidator(signedDigits);
    endSectorBox->setValidator(signedDigits);
    grid->addWidget(standardScan, 0, 0, 1, 3);
    grid->addWidget(advanceScan, 1, 0, 1, 3);
    grid->addWidget(doNotSkip, 2, 1, 1, 2);
    grid->addWidget(customSetting, 3, 1, 1, 2);
    grid->addWidget(startLabel, 4, 1);
    grid->addWidget(startSectorBox, 4, 2);
    grid->addWidget(endLabel, 5, 1);
    grid->addWidget(endSectorBox, 5, 2);
    grid->setColumnMinimumWidth(0, 24);
    grid->setColumnStretch(2, 1);
    layout->addWidget(modeGroup);
    sectorWidgets_ << startLabel << startSectorBox << endLabel << endSectorBox;

    auto* exportGroup = new QGroupBox(this);
    auto* exportRow = new QGridLayout(exportGroup);
    saveDiskImageCheck = new QCheckBox(QStringLiteral("Save Disk Image:"), exportGroup);
    exportPathBox = new QLineEdit(exportGroup);
    exportPathBox->setReadOnly(true);
    saveDiskImageButton = new QPushButton(QStringLiteral("Save Disk Image"), exportGroup);
    saveDiskImageButton->setAutoDefault(false);
    progress = new LongProgressBar(exportGroup);
    stopButton = new QPushButton(QStringLiteral("Stop"), exportGroup);
    stopButton->setAutoDefault(false);
    exportRow->addWidget(saveDiskImageCheck, 0, 0);
    exportRow->addWidget(exportPathBox, 0, 1);
    exportRow->addWidget(saveDiskImageButton, 0, 2);
    exportRow->addWidget(progress, 1, 0, 1, 2);
    exportRow->addWidget(stopButton, 1, 2);
    exportRow->setColumnStretch(1, 1);
    layout->addWidget(exportGroup);

    statusLine = new QLabel(QStringLiteral("Choose any one of the mode and Click Next...."), this);
    layout->addWidget(statusLine);
    layout->addStretch(1);
    layout->addLayout(buttonRow(true));

    connect(standardScan, &QRadioButton::clicked, this, [this] { setMode(false); });
    connect(advanceScan, &QRadioButton::clicked, this, [this] { setMode(true); });
    connect(customSetting, &QCheckBox::toggled, this, [this](bool on) {
        for (auto* w : sectorWidgets_) w->setEnabled(on);
    });
    connect(saveDiskImageCheck, &QCheckBox::toggled, saveDiskImageButton, &QPushButton::setEnabled);
    connect(saveDiskImageButton, &QPushButton::clicked, this, &DriveParsingModes::saveDiskImage);
    connect(stopButton, &QPushButton::clicked, this, [this] {
        if (prompter().question(this, QStringLiteral("Are you sure to stop the running process?")))
            exportControl_.requestStop();
    });
    connect(nextButton, &QPushButton::clicked, this, &DriveParsingModes::onNext);
    connect(backButton, &QPushButton::clicked, this, &DriveParsingModes::goBack);

    progress->hide();
    stopButton->hide();
    saveDiskImageCheck->setChecked(false);
    saveDiskImageButton->setEnabled(false);
    for (auto* w : sectorWidgets_) w->setEnabled(false);
    startSectorBox->setText(QStringLiteral("0"));
    endSectorBox->setText(QStringLiteral("0"));

    imagePathText = imagePage_->pathBox->text();
    // An unchanged "Size of HDD" is what the file says: the reader then takes
    // the exact size (the box holds whole megabytes, and rounding down would
    // hide the last sectors of the disk).
    quint64 sizeMb = imagePage_->sizeBox->text().toULongLong();
    diskSizeOverride_ = sizeMb == imagePage_->shownSizeMb ? 0 : sizeMb * 1048576ull;
    tableEntriesOverride_ = imagePage_->dynamicDisk->isChecked() ? imagePage_->tableBox->text().toUInt() : 0;
    driveValue->setText(imagePathText);
    standardScan->setChecked(true);
    setMode(false);
    resize(600, 430);
}

DriveParsingModes::~DriveParsingModes() { stopWorkers(); }

OpenOptions DriveParsingModes::openOptions() const {
    OpenOptions o;
    o.diskSizeOverride = diskSizeOverride_;
    o.tableEntriesOverride = tableEntriesOverride_;
    o.allowedReferences = imagePage_->allowedReferences;
    return o;
}

void DriveParsingModes::stopWorkers() {
    exportControl_.requestStop();
    if (observer_) observer_->close();
    worker_.join();
}

void DriveParsingModes::setMode(bool advanced) {
    standardScan->setChecked(!advanced);
    advanceScan->setChecked(advanced);
    doNotSkip->setEnabled(advanced);
    customSetting->setEnabled(advanced);
    bool sectors = advanced && customSetting->isChecked();
    for (auto* w : sectorWidgets_) w->setEnabled(sectors);
}

void DriveParsingModes::onNext() {
    if (worker_.running()) {
        prompter().information(this, QStringLiteral("Please wait for the running process."));
        return;
    }
    PopulateDriveDlg::Settings s;
    s.imagePath = imagePathText;
    s.mode = standardScan->isChecked() ? 1 : 2;
    s.doNotSkip = doNotSkip->isChecked();
    s.gptMode = gptFormat->isChecked();
    if (s.mode == 2 && customSetting->isChecked()) {
        qint64 start = startSectorBox->text().toLongLong();
        qint64 end = endSectorBox->text().toLongLong();
        if (end >= 0) {
            s.customStartSector = start < 0 ? 0 : start;
            s.customEndSector = end;
        }
    }
    auto* next = new PopulateDriveDlg(this, s);
    forwardTo(next);
    next->start();
}

void DriveParsingModes::saveDiskImage() {
    if (worker_.running()) return;
    prompter().information(this,
                           QStringLiteral("Make sure you have sufficient disk space at saving location of Image File"));
    QString folder = prompter().chooseFolder(this);
    if (folder.isEmpty()) return;
    exportPath = QString::fromStdString(exportOutputPath(imagePathText.toStdString(), folder.toStdString()));
    exportPathBox->setText(exportPath);

    OpenedImage opened = imagePage_->openChosenImage(openOptions());
    if (!opened.reader) {
        prompter().information(this, QString::fromStdString(opened.message.empty()
                                                                ? "Information lost, please click Back button and parse again"
                                                                : opened.message));
        return;
    }
    for (QWidget* w : QList<QWidget*>{nextButton, backButton, saveDiskImageButton, saveDiskImageCheck})
        w->setEnabled(false);
    progress->setValue(0);
    progress->show();
    stopButton->show();

    observer_ = std::make_unique<GuiObserver>(this);
    observer_->showOn(this, statusLine, progress);
    exportControl_.reset();
    auto reader = std::shared_ptr<readWriteInterface>(std::move(opened.reader));
    std::string output = exportPath.toStdString();
    GuiObserver* observer = observer_.get();
    worker_.start([this, reader, output, observer] {
        DiskExport exporter(*reader, *observer, exportControl_);
        exporter.run(output);
        observer->post([this] { exportFinished(); });
    });
}

void DriveParsingModes::exportFinished() {
    worker_.join();
    progress->hide();
    stopButton->hide();
    for (QWidget* w : QList<QWidget*>{nextButton, backButton, saveDiskImageButton, saveDiskImageCheck})
        w->setEnabled(true);
    screenshot(this, QStringLiteral("2-scan-mode-page-exported"));
}

}  // namespace ondrel::ui
