#include "ui/pages/advanceOptions.h"

#include "diskimage/ReaderState.h"
#include "fs/fat/FatAdapter.h"
#include "fs/ntfs/NtfsAdapter.h"
#include "results/AdapterFactory.h"
#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/ParceModeNtfsDlg.h"
#include "ui/pages/VolumeScanDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace ondrel::ui {

namespace {
// Cluster sizes to offer: the boot sector's own value first when it is a
// sane one (any power of two up to 128, one sector included), then the usual
// ones in the given order.
QList<int> clusterChoices(int bootValue, std::initializer_list<int> usual) {
    QList<int> out;
    if (bootValue > 0 && bootValue <= 128 && (bootValue & (bootValue - 1)) == 0) out << bootValue;
    for (int v : usual)
        if (!out.contains(v)) out << v;
    return out;
}
}  // namespace

advanceOptions::advanceOptions(ParceModeNtfsDlg* modePage) : WizardPage(modePage), modePage_(modePage) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Advanced Input:"), this);
    auto* grid = new QGridLayout(group);
    tfsLabel = new QLabel(QStringLiteral("TFS :"), group);
    tfsCombo = new QComboBox(group);
    auto* clusterLabel = new QLabel(QStringLiteral("Sector Per Cluster :"), group);
    clusterCombo = new QComboBox(group);
    heapLabel = new QLabel(QStringLiteral("Heap Offset :"), group);
    heapCombo = new QComboBox(group);
    grid->addWidget(tfsLabel, 0, 0);
    grid->addWidget(tfsCombo, 0, 1);
    grid->addWidget(clusterLabel, 1, 0);
    grid->addWidget(clusterCombo, 1, 1);
    grid->addWidget(heapLabel, 2, 0);
    grid->addWidget(heapCombo, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(group);
    clusterWidgets_ << tfsLabel << tfsCombo << clusterLabel << clusterCombo;

    progress = new LongProgressBar(this);
    layout->addWidget(progress);
    auto* controls = new QHBoxLayout;
    pauseButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPause), QStringLiteral("Pause"), this);
    resumeButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QStringLiteral("Resume"), this);
    stopButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QStringLiteral("Stop"), this);
    for (auto* b : {pauseButton, resumeButton, stopButton}) {
        b->setAutoDefault(false);
        controls->addWidget(b);
    }
    controls->addStretch(1);
    layout->addLayout(controls);
    statusLine = new QLabel(this);
    statusLine->setWordWrap(true);
    layout->addWidget(statusLine);
    layout->addStretch(1);
    layout->addLayout(buttonRow(true));
    resize(560, 320);

    connect(pauseButton, &QPushButton::clicked, this, [this] {
        if (!worker_.running()) return;
        control_.pause();
        statusLine->setText(QStringLiteral("Pause button pressed"));
    });
    connect(resumeButton, &QPushButton::clicked, this, [this] {
        if (!worker_.running()) return;
        control_.resume();
        statusLine->setText(QStringLiteral("Resume button pressed"));
    });
    connect(stopButton, &QPushButton::clicked, this, [this] {
        control_.requestStop();
        statusLine->setText(QStringLiteral("stop button pressed"));
        backButton->setEnabled(true);
    });
    connect(nextButton, &QPushButton::clicked, this, &advanceOptions::onNext);
    connect(backButton, &QPushButton::clicked, this, &advanceOptions::goBack);
    connect(exitButton, &QPushButton::clicked, this, [this] { statusLine->setText(QStringLiteral("All thread Stopped")); });

    nextButton->setEnabled(false);
    backButton->setEnabled(false);
    setClusterControlsVisible(false);
    heapLabel->hide();
    heapCombo->hide();

    maxFileSystems = modePage_->maxFileSystemsBox->text().toLongLong();
    record = modePage_->record;
}

advanceOptions::~advanceOptions() { stopWorkers(); }

void advanceOptions::stopWorkers() {
    control_.requestStop();
    if (observer_) observer_->close();
    worker_.join();
}

void advanceOptions::setClusterControlsVisible(bool visible) {
    for (auto* w : clusterWidgets_) w->setVisible(visible);
}

void advanceOptions::keyPressEvent(QKeyEvent* event) {
    // Neither Enter nor Escape leaves this page while a search may run.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    WizardPage::keyPressEvent(event);
}

void advanceOptions::start() {
    QString fs = QString::fromStdString(record.fileSystem).trimmed().toLower();
    if (!g_reader) {
        if (fs == "ntfs")
            prompter().information(this,
                                   QStringLiteral("Please Restart the program to re begin necessary initialization..."));
        backButton->setEnabled(true);
        return;
    }
    parser = std::shared_ptr<FileSystemAdapter>(createAdapter(*g_reader, record));
    if (!parser) {
        prompter().information(this, QStringLiteral("unKnown Partition Cant be parsed..."));
        statusLine->setText(QStringLiteral("Not a valid Drive .Go back"));
        backButton->setEnabled(true);
        return;
    }
    observer_ = std::make_unique<GuiObserver>(this);
    observer_->showOn(this, statusLine, progress);
    setClusterControlsVisible(true);
    int wanted = maxFileSystems < 1 || maxFileSystems > 100000 ? 3 : static_cast<int>(maxFileSystems);
    GuiObserver* observer = observer_.get();
    searching_ = true;

    if (auto* ntfsParser = dynamic_cast<NtfsAdapter*>(parser.get())) {
        statusLine->setText(QStringLiteral("ntfs partition selected...."));
        worker_.start([this, ntfsParser, observer, wanted] {
            int n = ntfsParser->findMftRecords(wanted, *observer, control_);
            QStringList entries;
            for (int i = 0; i < n; ++i) entries << QStringLiteral("MFT_ENTRY:%1").arg(i);
            QString message = QStringLiteral("Number of MFT-ENTRY found = %1 . Please select the choice from combo box "
                                             "and click Parse button to proceed.")
                                  .arg(n);
            observer->post([this, entries, message] {
                searchFinished(entries, {8, 4, 2, 16, 32, 64}, message, QStringLiteral("Parsing done.Click next to continue."));
            });
        });
        return;
    }
    auto* fat = dynamic_cast<FatAdapter*>(parser.get());
    if (!fat) {
        searching_ = false;
        return;
    }
    bool fat32 = fat->parser().fat32();
    if (!fat32) tfsLabel->setText(QStringLiteral("Total fat16 Entries Found:"));
    worker_.start([this, fat, fat32, observer, wanted] {
        if (!fat32) observer->status("Finding Fat entries....");
        auto found = fat->findFatCopies(wanted, *observer, control_);
        int boot = fat->parser().bootSectorsPerCluster();
        QStringList entries;
        for (std::size_t i = 0; i < found.size(); ++i)
            entries << (fat32 ? QStringLiteral("FAT32_ENTRY:%1") : QStringLiteral("FAT_ENTRY:%1")).arg(i);
        QList<int> clusters = fat32 ? clusterChoices(boot, {2, 4, 16, 32, 64, 8})
                                    : clusterChoices(boot, {4, 8, 16, 2, 32, 64, 128});
        QString message;
        if (fat32 && found.empty()) message = QStringLiteral("NO FAT  FAT32-ENTRY found ..");
        else
            message = QStringLiteral("Number of %1-ENTRY found = %2 . Please select the choice from combo box and click "
                                     "Parse button to proceed.")
                          .arg(fat32 ? QStringLiteral("FAT32") : QStringLiteral("FAT"))
                          .arg(found.size());
        observer->post([this, entries, clusters, message] {
            searchFinished(entries, clusters, message, QStringLiteral("Parsing done.Click Next to continue."));
        });
    });
}

void advanceOptions::searchFinished(const QStringList& entries, const QList<int>& clusterSizes, const QString& message,
                                    const QString& doneStatus) {
    worker_.join();
    searching_ = false;
    tfsCombo->clear();
    tfsCombo->addItems(entries);
    clusterCombo->clear();
    for (int v : clusterSizes) clusterCombo->addItem(QString::number(v));
    tfsCombo->setCurrentIndex(entries.isEmpty() ? -1 : 0);
    clusterCombo->setCurrentIndex(0);
    prompter().information(this, message);
    backButton->setEnabled(true);
    nextButton->setEnabled(true);
    progress->hide();
    for (auto* b : {pauseButton, resumeButton, stopButton}) b->hide();
    statusLine->setText(doneStatus);
    screenshot(this, QStringLiteral("5-advanced-input-found"));
}

void advanceOptions::onNext() {
    if (searching_) return;
    if (tfsCombo->currentIndex() < 0) {
        prompter().information(this, QStringLiteral("No File system Entry Found.Process cannot be continue..."));
        return;
    }
    if (clusterCombo->currentIndex() < 0 || !parser) return;
    int choice = tfsCombo->currentIndex();
    int sectorsPerCluster = clusterCombo->currentText().toInt();
    if (auto* n = dynamic_cast<NtfsAdapter*>(parser.get())) n->chooseMft(choice, sectorsPerCluster);
    else if (auto* f = dynamic_cast<FatAdapter*>(parser.get())) f->chooseFat(choice, sectorsPerCluster);
    auto* next = new VolumeScanDlg(this, record, 2, parser);
    forwardTo(next);
    next->start();
}

}  // namespace ondrel::ui
