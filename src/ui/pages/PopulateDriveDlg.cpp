#include "ui/pages/PopulateDriveDlg.h"

#include "fs/FileSystemRegistry.h"
#include "ui/pages/DriveParsingModes.h"
#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/ParceModeNtfsDlg.h"
#include "ui/pages/RawRecoveryDialog.h"
#include "ui/pages/VhdInputDialog.h"
#include "volumes/ByteWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace ondrel::ui {

namespace {
// The last item of "Treat file system as:" leads to signature recovery, not to a file system.
const char* const kRawItem = "RAW";

}  // namespace

PopulateDriveDlg::PopulateDriveDlg(QWidget* parentPage, const Settings& s) : WizardPage(parentPage), settings(s) {
    auto* layout = new QVBoxLayout(this);
    auto* listGroup = new QGroupBox(QStringLiteral("Volume List:"), this);
    auto* listLayout = new QVBoxLayout(listGroup);
    volumeList = new QTableWidget(0, 4, listGroup);
    volumeList->setHorizontalHeaderLabels(
        {QStringLiteral("VOLUME"), QStringLiteral("FILE_SYSTEM"), QStringLiteral("VOLUME_SIZE"), QStringLiteral("START_SECTOR")});
    volumeList->setSelectionBehavior(QAbstractItemView::SelectRows);
    volumeList->setSelectionMode(QAbstractItemView::SingleSelection);
    volumeList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    volumeList->setShowGrid(true);
    volumeList->verticalHeader()->hide();
    volumeList->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    volumeList->horizontalHeader()->setMinimumSectionSize(80);
    volumeList->horizontalHeader()->setStretchLastSection(true);
    listLayout->addWidget(volumeList);
    auto* listButtons = new QHBoxLayout;
    filterButton = new QPushButton(QStringLiteral("Filter Entries"), listGroup);
    filterButton->setToolTip(QStringLiteral("Filter volume entries."));
    addCustomButton = new QPushButton(QStringLiteral("Add Custom Volume"), listGroup);
    addCustomButton->setToolTip(QStringLiteral("Add Custom Volume entry."));
    for (auto* b : {filterButton, addCustomButton}) b->setAutoDefault(false);
    listButtons->addWidget(filterButton);
    listButtons->addWidget(addCustomButton);
    listButtons->addStretch(1);
    listLayout->addLayout(listButtons);
    layout->addWidget(listGroup, 1);

    earlierLayouts = new QCheckBox(QStringLiteral("Show Earlier LVM2 Layouts (removed or resized volumes)"), this);
    earlierLayouts->setToolTip(QStringLiteral(
        "Older copies of the LVM2 metadata still describe volumes the current one does not; their data is there "
        "unless other volumes took their extents (the volume's tooltip says so)."));
    layout->addWidget(earlierLayouts);
    customSettings = new QCheckBox(QStringLiteral("Custom Settings For Selected Volume "), this);
    layout->addWidget(customSettings);
    auto* customGroup = new QGroupBox(this);
    auto* grid = new QGridLayout(customGroup);
    auto* selectedLabel = new QLabel(QStringLiteral("Selected Volume :"), customGroup);
    selectedVolume = new QLabel(customGroup);
    auto* startLabel = new QLabel(QStringLiteral("Start Sector:"), customGroup);
    auto* endLabel = new QLabel(QStringLiteral("End Sector :"), customGroup);
    startSectorBox = new QLineEdit(customGroup);
    endSectorBox = new QLineEdit(customGroup);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,19}")), this);
    startSectorBox->setValidator(digits);
    endSectorBox->setValidator(digits);
    auto spin = [&](QLineEdit* box) {
        auto* up = new QToolButton(customGroup);
        auto* down = new QToolButton(customGroup);
        up->setArrowType(Qt::UpArrow);
        down->setArrowType(Qt::DownArrow);
        connect(up, &QToolButton::clicked, this, [this, box] { stepSector(box, 1); });
        connect(down, &QToolButton::clicked, this, [this, box] { stepSector(box, -1); });
        auto* row = new QHBoxLayout;
        row->addWidget(box, 1);
        row->addWidget(up);
        row->addWidget(down);
        customWidgets_ << up << down;
        return row;
    };
    auto* treatLabel = new QLabel(QStringLiteral("Treat file system as:"), customGroup);
    treatAs = new QComboBox(customGroup);
    for (const FileSystemEntry* e : fileSystems()) treatAs->addItem(QString::fromStdString(e->treatAsItem));
    treatAs->addItem(QString::fromUtf8(kRawItem));
    treatAs->setCurrentIndex(-1);
    grid->addWidget(selectedLabel, 0, 0);
    grid->addWidget(selectedVolume, 0, 1);
    grid->addWidget(startLabel, 1, 0);
    grid->addLayout(spin(startSectorBox), 1, 1);
    grid->addWidget(endLabel, 2, 0);
    grid->addLayout(spin(endSectorBox), 2, 1);
    grid->addWidget(treatLabel, 3, 0);
    grid->addWidget(treatAs, 3, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(customGroup);
    customWidgets_ << selectedLabel << selectedVolume << startLabel << startSectorBox << endLabel << endSectorBox
                   << treatLabel << treatAs;

    auto* progressRow = new QHBoxLayout;
    progress = new LongProgressBar(this);
    stopButton = new QPushButton(QStringLiteral("Stop"), this);
    stopButton->setAutoDefault(false);
    progressRow->addWidget(progress, 1);
    progressRow->addWidget(stopButton);
    layout->addLayout(progressRow);
    statusLine = new QLabel(this);
    layout->addWidget(statusLine);
    layout->addLayout(buttonRow(true));

    connect(volumeList, &QTableWidget::itemSelectionChanged, this, [this] {
        auto rows = volumeList->selectionModel()->selectedRows();
        if (!rows.isEmpty()) selectRow(rows.first().row());
    });
    connect(customSettings, &QCheckBox::toggled, this, &PopulateDriveDlg::enableCustomControls);
    connect(earlierLayouts, &QCheckBox::toggled, this, [this] {
        // The table scan runs again with or without them; a sweep is not repeated.
        if (disk && !sweeping_ && settings.mode == 1) standardScan();
    });
    connect(addCustomButton, &QPushButton::clicked, this, &PopulateDriveDlg::addCustomVolume);
    connect(filterButton, &QPushButton::clicked, this, &PopulateDriveDlg::filterEntries);
    connect(stopButton, &QPushButton::clicked, this, [this] {
        if (scanner_) scanner_->control.requestStop();
        backButton->setEnabled(true);
    });
    connect(nextButton, &QPushButton::clicked, this, &PopulateDriveDlg::onNext);
    connect(backButton, &QPushButton::clicked, this, [this] {
        if (sweeping_) {
            prompter().information(this, QStringLiteral("Please wait for the running process."));
            return;
        }
        goBack();
    });

    customSettings->setEnabled(false);
    addCustomButton->setEnabled(false);
    enableCustomControls(false);
    resize(620, 560);
}

PopulateDriveDlg::~PopulateDriveDlg() {
    stopWorkers();
    scanner_.reset();
}

void PopulateDriveDlg::stopWorkers() {
    if (scanner_) scanner_->control.requestStop();
    if (observer_) observer_->close();
    worker_.join();
}

void PopulateDriveDlg::start() {
    disk.reset();
    furtherDisks.clear();
    auto* imagePage = ancestor<VhdInputDialog>();
    auto* modePage = ancestor<DriveParsingModes>();
    QString openFailure;
    if (imagePage) {
        OpenedImage opened = imagePage->openChosenImage(modePage ? modePage->openOptions() : OpenOptions{});
        if (opened.reader) disk = std::move(opened.reader);
        else openFailure = QString::fromStdString(opened.message);
        for (OpenedImage& further : imagePage->openFurtherImages()) {
            if (further.reader) furtherDisks.emplace_back(std::move(further.reader));
            else if (disk) prompter().information(this, QString::fromStdString("A further disk is left out: " + further.message));
        }
    }
    observer_ = std::make_unique<GuiObserver>(this);
    observer_->showOn(this, statusLine, progress);

    if (!disk && !imagePage) {
        prompter().information(this, QStringLiteral("Information lost ..go back and parse again"));
        return;
    }
    if (!disk) {
        statusLine->setText(openFailure);
        prompter().information(this, QStringLiteral("file not opened.."));
        filterButton->setEnabled(true);
        progress->hide();
        stopButton->hide();
        return;
    }
    if (settings.mode == 1) standardScan();
    else advancedSweep();
}

void PopulateDriveDlg::insertRow(int row, std::size_t index) { insertRow(row, index, records[index]); }

void PopulateDriveDlg::insertRow(int row, std::size_t index, const VolumeRecord& r) {
    volumeList->insertRow(row);
    auto* first = new QTableWidgetItem(QString::fromStdString(r.volumeName));
    first->setData(Qt::UserRole, static_cast<qulonglong>(index));
    volumeList->setItem(row, 0, first);
    // A volume inside another is indented under it; the cell's data keeps the name itself.
    int depth = 0;
    for (int p = r.parent; p >= 0 && p < static_cast<int>(records.size()) && depth < 16; p = records[static_cast<std::size_t>(p)].parent)
        ++depth;
    // A volume its volume system names (an LVM2 "vg/lv") shows the name, and on which disk it lies when there are several.
    QString shown = QString(2 * depth, QLatin1Char(' ')) + QString::fromStdString(r.fileSystem);
    if (!r.label.empty()) shown += QStringLiteral("  ") + QString::fromStdString(r.label);
    if (!furtherDisks.empty()) shown += QStringLiteral("  [disk %1]").arg(r.disk + 1);
    auto* fs = new QTableWidgetItem(shown);
    fs->setData(Qt::UserRole, QString::fromStdString(r.fileSystem));
    // Two file systems claim the volume, or its volume system has something to
    // say of it: the tooltip says so (Treat file system as: chooses).
    QStringList notes;
    if (std::string note = claimConflict(r); !note.empty()) notes << QString::fromStdString(note);
    if (!r.note.empty()) notes << QString::fromStdString(r.note);
    if (!notes.isEmpty()) fs->setToolTip(notes.join(QLatin1Char('\n')));
    volumeList->setItem(row, 1, fs);
    volumeList->setItem(row, 2, new QTableWidgetItem(QString::fromStdString(r.sizeText)));
    volumeList->setItem(row, 3, new QTableWidgetItem(QString::number(r.startSector)));
}

std::vector<std::shared_ptr<const ByteSource>> PopulateDriveDlg::allDisks() const {
    std::vector<std::shared_ptr<const ByteSource>> disks{disk};
    disks.insert(disks.end(), furtherDisks.begin(), furtherDisks.end());
    return disks;
}

void PopulateDriveDlg::standardScan() {
    progress->setLongRange(0, 1000);
    volumeList->setRowCount(0);
    records.clear();
    scanner_ = std::make_unique<Partition>(records, *observer_, fileSystemProbes());
    scanner_->gptMode = settings.gptMode;
    scanner_->earlierLayouts = earlierLayouts->isChecked();
    scanner_->scanPartitionTables(allDisks());
    progress->setLongValue(1000);
    for (std::size_t i = records.size(); i-- > 0;) {
        records[i].volumeName = std::to_string(i);
        insertRow(0, i);
    }
    if (!records.empty()) customSettings->setEnabled(true);
    // A custom volume is added after a sweep, not after the tables were read.
    filterButton->setEnabled(true);
    statusLine->setText(QStringLiteral("Finished Scanning."));
    progress->hide();
    stopButton->hide();
    statusLine->setText(QStringLiteral("Select volume and click next button..."));
    scanner_.reset();
    screenshot(this, QStringLiteral("3-volume-list"));
}

void PopulateDriveDlg::advancedSweep() {
    scanner_ = std::make_unique<Partition>(records, *observer_, fileSystemProbes());
    scanner_->skipVolumeSize = !settings.doNotSkip;
    scanner_->earlierLayouts = earlierLayouts->isChecked();
    if (settings.customEndSector >= 0) {
        scanner_->customStartSector = settings.customStartSector;
        scanner_->customEndSector = settings.customEndSector;
    }
    volumeList->setRowCount(0);
    records.clear();
    backButton->setEnabled(false);
    nextButton->setEnabled(false);
    addCustomButton->setEnabled(false);
    filterButton->setEnabled(false);
    progress->show();
    stopButton->show();
    GuiObserver* observer = observer_.get();
    // The worker appends to records; the page reads them only through the
    // copies posted here until the sweep ends. The newest volume goes on top.
    scanner_->onRecordListed = [this, observer](const VolumeRecord& found) {
        std::size_t index = records.size() - 1;
        observer->post([this, index, found] { insertRow(0, index, found); });
    };
    sweeping_ = true;
    worker_.start([this, disks = allDisks(), observer] {
        scanner_->sweepVolumes(disks);
        observer->post([this] { sweepFinished(); });
    });
}

void PopulateDriveDlg::sweepFinished() {
    worker_.join();
    sweeping_ = false;
    backButton->setEnabled(true);
    statusLine->setText(QStringLiteral("Scanned Partitions"));
    prompter().information(this, QStringLiteral("populated partitions...."));
    statusLine->setText(QStringLiteral("Finished Scanning."));
    scanner_.reset();
    if (!records.empty()) customSettings->setEnabled(true);
    addCustomButton->setEnabled(true);
    nextButton->setEnabled(true);
    filterButton->setEnabled(true);
    progress->hide();
    stopButton->hide();
    statusLine->setText(QStringLiteral("Select volume and click next button..."));
    screenshot(this, QStringLiteral("3-volume-list-sweep"));
}

void PopulateDriveDlg::enableCustomControls(bool on) {
    for (auto* w : customWidgets_) w->setEnabled(on);
}

void PopulateDriveDlg::stepSector(QLineEdit* box, int delta) {
    qulonglong v = box->text().toULongLong();
    if (delta > 0) ++v;
    else if (v > 0) --v;
    box->setText(QString::number(v));
}

void PopulateDriveDlg::selectRow(int row) {
    if (row < 0 || row >= volumeList->rowCount()) return;
    selectedVolume->setText(volumeList->item(row, 0)->text());
    qint64 start = volumeList->item(row, 3)->text().toLongLong();
    startSectorBox->setText(QString::number(start));
    std::size_t index = volumeList->item(row, 0)->data(Qt::UserRole).toULongLong();
    qint64 sectors = index < records.size() ? records[index].lengthBytes / 512 : 0;
    endSectorBox->setText(QString::number(sectors >= 1 ? start + sectors - 1 : 0));
    if (const FileSystemEntry* e = findFileSystem(volumeList->item(row, 1)->data(Qt::UserRole).toString().toStdString()))
        treatAs->setCurrentIndex(treatAs->findText(QString::fromStdString(e->treatAsItem)));
}

void PopulateDriveDlg::addCustomVolume() {
    VolumeRecord r;
    r.fileSystem = "CUSTOM ";
    r.volumeName = std::to_string(records.size());
    r.sizeText = "0";
    r.listedBy = "custom";
    records.push_back(r);
    customSettings->setEnabled(true);
    customSettings->setChecked(true);
    enableCustomControls(true);
    int row = settings.mode == 2 ? 0 : volumeList->rowCount();
    insertRow(row, records.size() - 1);
    volumeList->selectRow(row);
    startSectorBox->setText(QStringLiteral("0"));
    endSectorBox->setText(QStringLiteral("0"));
}

void PopulateDriveDlg::filterEntries() {
    if (sweeping_) return;
    // Keeps the records that follow their predecessor at the next sector: the
    // volumes the sweep found inside another one's first sectors.
    volumeList->setRowCount(0);
    int n = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (records[i].startSector != records[i - 1].startSector + 1) continue;
        records[i].volumeName = std::to_string(n);
        insertRow(n++, i);
    }
}

void PopulateDriveDlg::onNext() {
    if (sweeping_) {
        prompter().information(this, QStringLiteral("Please wait for the running process."));
        return;
    }
    auto rows = volumeList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        prompter().information(this, QStringLiteral("please select a valid volume."));
        return;
    }
    int row = rows.first().row();
    std::size_t index = volumeList->item(row, 0)->data(Qt::UserRole).toULongLong();
    if (index >= records.size()) return;
    chosenRecord = records[index];
    if (!customSettings->isChecked() && treatedAsRaw) {
        chosenRecord.volumeName = volumeList->item(row, 0)->text().toStdString();
        chosenRecord.fileSystem = volumeList->item(row, 1)->data(Qt::UserRole).toString().toStdString();
        chosenRecord.sizeText = volumeList->item(row, 2)->text().remove(QStringLiteral("MB")).trimmed().toStdString();
    }
    bool raw = false;
    if (customSettings->isChecked()) {
        qint64 start = std::max<qint64>(startSectorBox->text().toLongLong(), 0);
        qint64 end = endSectorBox->text().toLongLong();
        // The range is exact, its last sector included; an end of 0 means the
        // disk's end, an end before the start an empty volume.
        std::int64_t length = end == 0 ? 0 : end >= start ? (end - start + 1) * 512 : -1;
        std::string name = chosenRecord.volumeName, fs = chosenRecord.fileSystem;
        if (disk) {
            chosenRecord = customVolume(disk, fs, start, std::max<std::int64_t>(length, 0));
            if (length < 0) {
                chosenRecord.source = std::make_shared<ByteWindow>(disk, start * 512, 0);
                chosenRecord.lengthBytes = 0;
            }
        }
        chosenRecord.volumeName = name;
        chosenRecord.startSector = start;
        chosenRecord.sizeText = std::to_string(chosenRecord.lengthBytes / 1048576);
        QString item = treatAs->currentText();
        if (const FileSystemEntry* e = findFileSystem(item.toStdString())) chosenRecord.fileSystem = e->treatAsName;
        else raw = item == QString::fromUtf8(kRawItem);
    }
    if (raw) {
        chosenRecord.fileSystem = kRawItem;
        forwardTo(new RawRecoveryDialog(this, chosenRecord));
        scanner_.reset();
        return;
    }
    if (isUnknownFileSystem(chosenRecord)) {
        prompter().information(this, QStringLiteral("can not parse unknown volume"));
        return;
    }
    auto* next = new ParceModeNtfsDlg(this, chosenRecord);
    forwardTo(next);
    screenshot(next, QStringLiteral("4-recovery-mode-page"));
    scanner_.reset();
}

}  // namespace ondrel::ui
