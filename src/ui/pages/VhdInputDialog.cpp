#include "ui/pages/VhdInputDialog.h"

#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/DriveParsingModes.h"

#include <QFileInfo>

#include <algorithm>
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

VhdInputDialog::VhdInputDialog(QWidget* parent) : WizardPage(parent) {
    closeQuestionWithInformationIcon = true;
    auto* layout = new QVBoxLayout(this);

    auto* typeRow = new QHBoxLayout;
    dynamicDisk = new QRadioButton(QStringLiteral("Dynamic Disk"), this);
    fixedDisk = new QRadioButton(QStringLiteral("Fixed Disk"), this);
    vdiDisk = new QRadioButton(QStringLiteral("VDI Disk"), this);
    vmdkDisk = new QRadioButton(QStringLiteral("VMDK Disk"), this);
    qcow2Disk = new QRadioButton(QStringLiteral("QCOW2 Disk"), this);
    vhdxDisk = new QRadioButton(QStringLiteral("VHDX Disk"), this);
    fixedDisk->setToolTip(
        QStringLiteral("A fixed VHD, a raw image (.img, .raw, .dd, .iso, or split as .001, .002, ...) or a block device"));
    for (auto* r : {dynamicDisk, fixedDisk, vdiDisk, vmdkDisk, qcow2Disk, vhdxDisk}) {
        typeRow->addWidget(r);
        connect(r, &QRadioButton::clicked, this, [this, r] { chooseType(r); });
    }
    typeRow->addStretch(1);
    layout->addLayout(typeRow);

    auto* pathGroup = new QGroupBox(QStringLiteral("File Path:"), this);
    auto* pathRow = new QHBoxLayout(pathGroup);
    pathBox = new QLineEdit(pathGroup);
    pathBox->setReadOnly(true);
    pathBox->setMinimumWidth(380);
    browseButton = new QPushButton(QStringLiteral("..."), pathGroup);
    browseButton->setAutoDefault(false);
    browseButton->setFixedWidth(40);
    pathRow->addWidget(pathBox, 1);
    pathRow->addWidget(browseButton);
    connect(browseButton, &QPushButton::clicked, this, &VhdInputDialog::browse);
    layout->addWidget(pathGroup);

    auto* furtherGroup = new QGroupBox(QStringLiteral("Further Disks Of The Same Machine:"), this);
    auto* furtherRow = new QHBoxLayout(furtherGroup);
    furtherValue = new QLabel(QStringLiteral("none"), furtherGroup);
    furtherValue->setWordWrap(true);
    furtherValue->setToolTip(
        QStringLiteral("Disks whose volumes belong with the first one's: an LVM2 volume group over several disks"));
    addDiskButton = new QPushButton(QStringLiteral("Add Disk..."), furtherGroup);
    clearDisksButton = new QPushButton(QStringLiteral("Clear"), furtherGroup);
    for (auto* b : {addDiskButton, clearDisksButton}) b->setAutoDefault(false);
    furtherRow->addWidget(furtherValue, 1);
    furtherRow->addWidget(addDiskButton);
    furtherRow->addWidget(clearDisksButton);
    connect(addDiskButton, &QPushButton::clicked, this, [this] {
        addFurtherDisk(prompter().openFile(this, QStringLiteral("Disk images (*)")));
    });
    connect(clearDisksButton, &QPushButton::clicked, this, [this] {
        furtherPaths.clear();
        furtherValue->setText(QStringLiteral("none"));
    });
    layout->addWidget(furtherGroup);

    infoGroup = new QGroupBox(QStringLiteral("File Information:"), this);
    auto* grid = new QGridLayout(infoGroup);
    auto addRow = [&](int row, const char* caption, QLabel*& value) {
        auto* label = new QLabel(QString::fromUtf8(caption), infoGroup);
        value = new QLabel(infoGroup);
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1, 1, 2);
        infoWidgets_ << label << value;
    };
    addRow(0, "File Format Version:", versionValue);
    addRow(1, "Sector per track:", sectorsValue);
    addRow(2, "Head:", headValue);
    addRow(3, "Cylinder:", cylinderValue);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,19}")), this);
    auto* sizeLabel = new QLabel(QStringLiteral("Size of HDD:"), infoGroup);
    sizeBox = new QLineEdit(infoGroup);
    sizeBox->setValidator(digits);
    auto* mbLabel = new QLabel(QStringLiteral("MB"), infoGroup);
    grid->addWidget(sizeLabel, 4, 0);
    grid->addWidget(sizeBox, 4, 1);
    grid->addWidget(mbLabel, 4, 2);
    infoWidgets_ << sizeLabel << sizeBox << mbLabel;
    auto* tableLabel = new QLabel(QStringLiteral("MAXIMUM TABLE ENTRIES:"), infoGroup);
    tableBox = new QLineEdit(infoGroup);
    tableBox->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), this));
    grid->addWidget(tableLabel, 5, 0);
    grid->addWidget(tableBox, 5, 1);
    tableWidgets_ << tableLabel << tableBox;
    auto* chainLabel = new QLabel(QStringLiteral("Image files:"), infoGroup);
    chainValue = new QLabel(infoGroup);
    chainValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(chainLabel, 6, 0, Qt::AlignTop);
    grid->addWidget(chainValue, 6, 1, 1, 2);
    infoWidgets_ << chainLabel << chainValue;
    grid->setColumnStretch(1, 1);
    layout->addWidget(infoGroup);
    layout->addStretch(1);
    layout->addLayout(buttonRow(false));
    connect(nextButton, &QPushButton::clicked, this, &VhdInputDialog::onNext);

    showInformation(false);
    nextButton->setEnabled(false);
    dynamicDisk->setChecked(true);
    resize(560, 360);
}

ImageChoice VhdInputDialog::choice() const {
    if (fixedDisk->isChecked()) return ImageChoice::Fixed;
    if (vdiDisk->isChecked()) return ImageChoice::Vdi;
    if (vmdkDisk->isChecked()) return ImageChoice::Vmdk;
    if (qcow2Disk->isChecked()) return ImageChoice::Qcow2;
    if (vhdxDisk->isChecked()) return ImageChoice::Vhdx;
    return ImageChoice::DynamicVhd;
}

void VhdInputDialog::showInformation(bool visible) {
    for (auto* w : infoWidgets_) w->setVisible(visible);
    for (auto* w : tableWidgets_) w->setVisible(visible && choice() == ImageChoice::DynamicVhd);
}

void VhdInputDialog::chooseType(QRadioButton* radio) {
    radio->setChecked(true);
    pathBox->clear();
    // Information about a file of another type would be misleading.
    showInformation(false);
}

void VhdInputDialog::browse() {
    QString filter;
    switch (choice()) {
    case ImageChoice::DynamicVhd: filter = QStringLiteral("VHD Files (*.vhd)"); break;
    case ImageChoice::Fixed:
        filter = QStringLiteral("Disk images (*.vhd *.img *.raw *.dd *.iso *.001 *.aa);;All files (*)");
        break;
    case ImageChoice::Vdi: filter = QStringLiteral("VDI Files (*.vdi)"); break;
    case ImageChoice::Vmdk: filter = QStringLiteral("VMDK Files (*.vmdk)"); break;
    case ImageChoice::Qcow2: filter = QStringLiteral("QCOW2 Files (*.qcow2 *.qcow *.img)"); break;
    case ImageChoice::Vhdx: filter = QStringLiteral("VHDX Files (*.vhdx *.avhdx)"); break;
    }
    QString path = prompter().openFile(this, filter);
    if (path.isEmpty()) return;
    takeImage(path);
}

void VhdInputDialog::takeImage(const QString& path) {
    nextButton->setEnabled(true);
    if (path.isEmpty()) return;
    pathBox->setText(path);
    ImageChoice c = choice();
    if (c != ImageChoice::Fixed) {
        imageType = c == ImageChoice::DynamicVhd ? 1
                    : c == ImageChoice::Vdi  ? 2
                    : c == ImageChoice::Vmdk ? 3
                    : c == ImageChoice::Qcow2 ? 4
                                              : 5;
    }
    imagePath = path;
    allowedReferences.clear();
    OpenOptions options;
    ImageInfo info = readImageInfo(path.toStdString(), c, options);
    // A parent or extent outside the image's folder is opened only when the user says so.
    while (!info.ok && !info.refusedReference.empty() &&
           std::find(allowedReferences.begin(), allowedReferences.end(), info.refusedReference) == allowedReferences.end() &&
           prompter().question(this, QString::fromStdString(info.message + "\n\nOpen " + info.refusedReference +
                                                            " anyway?"))) {
        allowedReferences.push_back(info.refusedReference);
        options.allowedReferences = allowedReferences;
        info = readImageInfo(path.toStdString(), c, options);
    }
    if (!info.ok) {
        prompter().information(this, QString::fromStdString(info.message));
        return;
    }
    versionValue->setText(QString::fromStdString(info.version));
    sectorsValue->setText(QString::fromStdString(info.sectorsPerTrack));
    headValue->setText(QString::fromStdString(info.heads));
    cylinderValue->setText(QString::fromStdString(info.cylinders));
    shownSizeMb = info.sizeMb;
    sizeBox->setText(QString::number(info.sizeMb));
    if (info.maxTableEntries) tableBox->setText(QString::number(*info.maxTableEntries));
    chainValue->setText(QString::fromStdString(chainText(info.chain)));
    showInformation(true);
    screenshot(this, QStringLiteral("1-image-page"));
}

void VhdInputDialog::addFurtherDisk(const QString& given) {
    if (given.isEmpty()) return;
    const QString path = QFileInfo(given).absoluteFilePath();
    if (path == QFileInfo(pathBox->text()).absoluteFilePath() || furtherPaths.contains(path)) {
        prompter().information(this, QStringLiteral("This disk is already chosen."));
        return;
    }
    furtherPaths << path;
    QStringList names;
    for (const QString& p : furtherPaths) names << QFileInfo(p).fileName();
    furtherValue->setText(names.join(QStringLiteral(", ")));
    furtherValue->setToolTip(furtherPaths.join(QLatin1Char('\n')));
}

std::vector<OpenedImage> VhdInputDialog::openFurtherImages() const {
    std::vector<OpenedImage> out;
    for (const QString& p : furtherPaths) {
        OpenOptions options;
        options.allowedReferences = allowedReferences;
        out.push_back(openDiskImage(p.toStdString(), std::nullopt, options));
        if (!out.back().reader && out.back().message.empty()) out.back().message = "cannot open " + p.toStdString();
    }
    return out;
}

void VhdInputDialog::preset(const QString& given) {
    QString path = QFileInfo(given).absoluteFilePath();
    switch (detectImageKind(path.toStdString())) {
    case ImageKind::DynamicVhd: dynamicDisk->setChecked(true); break;
    case ImageKind::Vdi: vdiDisk->setChecked(true); break;
    case ImageKind::Vmdk: vmdkDisk->setChecked(true); break;
    case ImageKind::Qcow2: qcow2Disk->setChecked(true); break;
    case ImageKind::Vhdx: vhdxDisk->setChecked(true); break;
    case ImageKind::SplitRaw:
    case ImageKind::Raw:
    case ImageKind::FixedVhd: fixedDisk->setChecked(true); break;
    }
    takeImage(path);
}

OpenedImage VhdInputDialog::openChosenImage(const OpenOptions& given) const {
    std::string path = pathBox->text().toStdString();
    OpenOptions options = given;
    if (options.allowedReferences.empty()) options.allowedReferences = allowedReferences;
    switch (choice()) {
    case ImageChoice::DynamicVhd:
        options.requireVhdExtension = true;
        return openDiskImage(path, ImageKind::DynamicVhd, options);
    case ImageChoice::Vdi: return openDiskImage(path, ImageKind::Vdi, options);
    case ImageChoice::Vmdk: return openDiskImage(path, ImageKind::Vmdk, options);
    case ImageChoice::Qcow2: return openDiskImage(path, ImageKind::Qcow2, options);
    case ImageChoice::Vhdx: return openDiskImage(path, ImageKind::Vhdx, options);
    case ImageChoice::Fixed: break;
    }
    // A fixed VHD ends before its footer, a split image runs on into its next
    // parts; anything else is read byte for byte.
    ImageKind detected = detectImageKind(path);
    ImageKind kind = detected == ImageKind::FixedVhd || detected == ImageKind::SplitRaw ? detected : ImageKind::Raw;
    return openDiskImage(path, kind, options);
}

void VhdInputDialog::onNext() {
    QString path = pathBox->text();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        prompter().information(this, QStringLiteral("Please select valid path to continue the recovery process."));
        return;
    }
    if (sizeBox->text().isEmpty()) {
        prompter().information(this, QStringLiteral("Hard disk Size cannot be left blank."));
        return;
    }
    if (dynamicDisk->isChecked() && tableBox->text().isEmpty()) {
        prompter().information(this, QStringLiteral("Maximum Table Entries Field cannot be left blank."));
        return;
    }
    auto* next = new DriveParsingModes(this);
    forwardTo(next);
    screenshot(next, QStringLiteral("2-scan-mode-page"));
}

}  // namespace ondrel::ui
