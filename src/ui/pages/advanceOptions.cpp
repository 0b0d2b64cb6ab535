#include "ui/pages/advanceOptions.h"

#include "fs/FileSystemRegistry.h"
#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/pages/ParceModeNtfsDlg.h"
#include "ui/pages/VolumeScanDlg.h"

#include <QCheckBox>

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
    const FileSystemEntry* entry = findFileSystem(record.fileSystem);
    if (!record.source) {
        if (entry && entry->kind == FileSystemKind::Ntfs)
            prompter().information(this,
                                   QStringLiteral("Please Restart the program to re begin necessary initialization..."));
        backButton->setEnabled(true);
        return;
    }
    parser = std::shared_ptr<FileSystemAdapter>(createAdapter(record));
    // "Is Drive Formated..?" on the recovery-mode page applies to this scan and its saves.
    if (parser)
        if (auto* modePage = ancestor<ParceModeNtfsDlg>()) parser->setDriveFormatted(modePage->driveFormattedCheck->isChecked());
    if (!parser || !entry->offers(RecoveryMode::Advanced)) {
        parser.reset();
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
    if (!entry->selectedStatus.empty()) statusLine->setText(QString::fromStdString(entry->selectedStatus));
    if (!entry->candidateLabel.empty()) tfsLabel->setText(QString::fromStdString(entry->candidateLabel));
    FileSystemAdapter* adapter = parser.get();
    worker_.start([this, adapter, observer, wanted] {
        auto search = std::make_shared<AdvancedSearch>(adapter->findCandidates(wanted, *observer, control_));
        observer->post([this, search] { searchFinished(*search); });
    });
}

void advanceOptions::searchFinished(const AdvancedSearch& search) {
    worker_.join();
    searching_ = false;
    // The first list goes in the entry box, a second one in the heap box, the
    // first parameter in the cluster box.
    static const CandidateList none;
    const CandidateList& entries = search.lists.empty() ? none : search.lists[0];
    tfsCombo->clear();
    for (const auto& c : entries.items) tfsCombo->addItem(QString::fromStdString(c.label));
    if (!entries.label.empty()) tfsLabel->setText(QString::fromStdString(entries.label));
    clusterCombo->clear();
    cluster_ = search.parameters.empty() ? ParameterChoice{} : search.parameters[0];
    for (int v : cluster_.values) clusterCombo->addItem(QString::number(v));
    tfsCombo->setCurrentIndex(entries.items.empty() ? -1 : 0);
    clusterCombo->setCurrentIndex(0);
    heapCombo->clear();
    bool second = search.lists.size() > 1;
    if (second)
        for (const auto& c : search.lists[1].items) heapCombo->addItem(QString::fromStdString(c.label));
    if (second && !search.lists[1].label.empty()) heapLabel->setText(QString::fromStdString(search.lists[1].label));
    heapCombo->setCurrentIndex(heapCombo->count() == 0 ? -1 : 0);
    heapLabel->setVisible(second);
    heapCombo->setVisible(second);
    prompter().information(this, QString::fromStdString(search.message));
    QString doneStatus = QString::fromStdString(search.doneStatus);
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
    AdvancedChoice choice;
    choice.picks = {tfsCombo->currentIndex(), heapCombo->currentIndex()};
    // A parameter offered as shifts (exFAT) is still chosen as a count of sectors.
    choice.values = {cluster_.sectorsFor(clusterCombo->currentText().toInt())};
    std::string failure;
    if (!parser->chooseCandidate(choice, failure)) {
        prompter().information(this, QString::fromStdString(failure));
        return;
    }
    auto* next = new VolumeScanDlg(this, record, 2, parser);
    forwardTo(next);
    next->start();
}

}  // namespace ondrel::ui
