#include "ui/pages/VolumeScanDlg.h"

#include "fs/FileSystemRegistry.h"
#include "results/SaveWalk.h"
#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/app/Screenshots.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

namespace ondrel::ui {

namespace {
constexpr int kNodeRole = Qt::UserRole + 1;
const QColor kDeletedColour(0xFF, 0x00, 0x00);
const char* kWaitText = "Please wait for the running process.";
}  // namespace

VolumeScanDlg::VolumeScanDlg(QWidget* parentPage, const VolumeRecord& r, int m, std::shared_ptr<FileSystemAdapter> parser)
    : WizardPage(parentPage), mode(m), record(r), adapter_(std::move(parser)) {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QGridLayout;
    top->addWidget(new QLabel(QStringLiteral("Volume Data:"), this), 0, 0);
    volumeData = new QLineEdit(this);
    volumeData->setReadOnly(true);
    top->addWidget(volumeData, 0, 1);
    searchBox = new QLineEdit(this);
    searchBox->setPlaceholderText(QStringLiteral("jpg|png"));
    searchButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogContentsView), QStringLiteral("Search"), this);
    searchButton->setAutoDefault(false);
    top->addWidget(searchBox, 0, 2);
    top->addWidget(searchButton, 0, 3);
    top->addWidget(new QLabel(QStringLiteral("* Use \"|\" to find multiple file type "), this), 1, 2, 1, 2);
    top->setColumnStretch(1, 1);
    top->setColumnStretch(2, 1);
    layout->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, this);
    tree = new CXHtmlTree(split);
    fileList = new CCheckListCtrl(split);
    fileList->setColumnCount(6);
    fileList->setHorizontalHeaderLabels({QStringLiteral("File(s) List"), QStringLiteral("Creation Time"),
                                         QStringLiteral("Access Time"), QStringLiteral("Modification Time"),
                                         QStringLiteral("Size"), QStringLiteral("Attribute")});
    // Wide enough for "12/31/2024  11:59 PM" and a name; the user can resize.
    const int timeWidth = fileList->fontMetrics().horizontalAdvance(QStringLiteral("12/31/2024  11:59 PM")) + 20;
    const int widths[] = {170, timeWidth, timeWidth, timeWidth, 80, 70};
    for (int c = 0; c < 6; ++c) fileList->setColumnWidth(c, widths[c]);
    fileList->horizontalHeader()->setStretchLastSection(true);
    fileList->initialise();
    split->addWidget(tree);
    split->addWidget(fileList);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    split->setSizes({250, 870});
    layout->addWidget(split, 1);

    auto* controls = new QHBoxLayout;
    progress = new LongProgressBar(this);
    pauseButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPause), QStringLiteral("Pause"), this);
    resumeButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QStringLiteral("Resume"), this);
    stopButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QStringLiteral("Stop"), this);
    controls->addWidget(progress, 1);
    for (auto* b : {pauseButton, resumeButton, stopButton}) {
        b->setAutoDefault(false);
        controls->addWidget(b);
    }
    layout->addLayout(controls);
    auto* statusRow = new QHBoxLayout;
    statusLine = new QLabel(this);
    statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLine->setMinimumWidth(200);
    detailLine = new QLabel(this);
    statusRow->addWidget(statusLine, 1);
    statusRow->addWidget(detailLine);
    layout->addLayout(statusRow);

    saveButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Save"), this);
    saveButton->setAutoDefault(false);
    auto* buttons = buttonRow(true);
    nextButton->hide();
    buttons->addWidget(saveButton);
    layout->addLayout(buttons);

    tree->Initialize(true, true);
    tree->setIconSize(QSize(16, 16));
    // A double click lists and opens a folder; it must not close it again.
    tree->setExpandsOnDoubleClick(false);
    backButton->setEnabled(false);

    connect(searchButton, &QPushButton::clicked, this, &VolumeScanDlg::onSearch);
    connect(searchBox, &QLineEdit::returnPressed, this, &VolumeScanDlg::onSearch);
    connect(saveButton, &QPushButton::clicked, this, &VolumeScanDlg::onSave);
    connect(pauseButton, &QPushButton::clicked, this, &VolumeScanDlg::pause);
    connect(resumeButton, &QPushButton::clicked, this, &VolumeScanDlg::resume);
    connect(stopButton, &QPushButton::clicked, this, &VolumeScanDlg::stop);
    connect(backButton, &QPushButton::clicked, this, [this] {
        if (refuseWhileRunning()) return;
        goBack();
    });
    connect(tree, &CXHtmlTree::labelClicked, this, &VolumeScanDlg::onLabelClicked);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { onDoubleClicked(item); });
    connect(tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!running_) populate(item, false);
    });
    connect(fileList, &CCheckListCtrl::rowCheckChanged, this, [this](int row, bool checked) {
        if (listShowsSearchResults) return;
        auto* cell = fileList->item(row, 0);
        if (!cell) return;
        auto it = nodeItems_.find(cell->data(Qt::UserRole).toInt());
        if (it != nodeItems_.end()) tree->setCheck(it->second, checked);
    });

    observer_ = std::make_unique<GuiObserver>(this);
    observer_->showOn(this, statusLine, progress);
    observer_->onDetail = [this](const QString& t) { detailLine->setText(t); };
    observer_->onQuestion = [this](const QString& t) { return prompter().question(this, t); };
    observer_->onMessage = [this](const QString& t) {
        // The tree is filled before the user is told the scan is done, and the
        // search results are listed before "Searching Finished".
        if (job_ == Job::Scan && t == QString::fromUtf8(kScanDoneText)) showTopLevel();
        if (job_ == Job::Search && t == QStringLiteral("Searching Finished")) {
            searchFinishedPending_ = true;
            return;
        }
        prompter().information(this, t);
    };

    volumeData->setText(QString::fromStdString(record.label.empty() ? record.volumeName : record.label));
    for (auto* w : QList<QWidget*>{progress, pauseButton, resumeButton, stopButton}) w->hide();
    resize(1140, 660);
}

VolumeScanDlg::~VolumeScanDlg() { stopWorkers(); }

void VolumeScanDlg::stopWorkers() {
    if (driver_) driver_->control().requestStop();
    if (saveWalk_) saveWalk_->control().requestStop();
    jobControl_.requestStop();
    if (observer_) observer_->close();
    worker_.join();
}

bool VolumeScanDlg::refuseWhileRunning() {
    if (!running_) return false;
    prompter().information(this, QString::fromUtf8(kWaitText));
    return true;
}

void VolumeScanDlg::beginJob(Job job, WorkControl* control) {
    job_ = job;
    running_ = true;
    activeControl_ = control;
    progress->setLongRange(0, 0);
    for (auto* w : QList<QWidget*>{progress, pauseButton, resumeButton, stopButton}) w->show();
}

void VolumeScanDlg::endJob() {
    worker_.join();
    job_ = Job::None;
    running_ = false;
    activeControl_ = nullptr;
    for (auto* w : QList<QWidget*>{progress, pauseButton, resumeButton, stopButton}) w->hide();
    backButton->setEnabled(true);
}

void VolumeScanDlg::start() {
    const FileSystemEntry* entry = findFileSystem(record.fileSystem);
    if (entry && !entry->selectedStatus.empty()) statusLine->setText(QString::fromStdString(entry->selectedStatus));
    if (!record.source) {
        prompter().information(this, QStringLiteral("Please Restart the program to re begin necessary initialization..."));
        backButton->setEnabled(true);
        return;
    }
    if (!adapter_) adapter_ = std::shared_ptr<FileSystemAdapter>(createAdapter(record));
    if (!adapter_) {
        prompter().information(this, QStringLiteral("not a valid drive."));
        backButton->setEnabled(true);
        statusLine->setText(QStringLiteral("Not a valid Drive .Go back"));
        return;
    }
    // A mode the file system does not offer: the page stays, with Back to choose again.
    if (!fileSystem(adapter_->kind()).offers(recoveryModeFromNumber(mode))) {
        backButton->setEnabled(true);
        return;
    }
    driver_ = std::make_unique<ScanDriver>(*adapter_, *observer_);
    beginJob(Job::Scan, &driver_->control());
    ScanDriver* driver = driver_.get();
    GuiObserver* observer = observer_.get();
    RecoveryMode scanMode = recoveryModeFromNumber(mode);
    worker_.start([this, driver, observer, scanMode] {
        bool ok = driver->run(scanMode);
        observer->post([this, ok] {
            if (ok && !treeShown_) showTopLevel();
            endJob();
            screenshot(this, QStringLiteral("6-results-scanned"));
        });
    });
}

void VolumeScanDlg::pause() {
    if (!running_ || !activeControl_) return;
    activeControl_->pause();
    statusLine->setText(QStringLiteral("Pause button pressed"));
}

void VolumeScanDlg::resume() {
    if (!running_ || !activeControl_) return;
    activeControl_->resume();
    statusLine->setText(QStringLiteral("Resume button pressed"));
}

void VolumeScanDlg::stop() {
    if (!activeControl_) return;
    if (job_ == Job::Scan && driver_) {
        driver_->stop();
        return;
    }
    activeControl_->requestStop();
    statusLine->setText(QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
}

int VolumeScanDlg::nodeOf(const QTreeWidgetItem* item) const {
    if (!item) return -1;
    QVariant v = item->data(0, kNodeRole);
    return v.isValid() ? v.toInt() : -1;
}

QTreeWidgetItem* VolumeScanDlg::addNodeItem(QTreeWidgetItem* parent, int node) {
    const ResultNode& n = driver_->tree().node(node);
    QIcon icon = n.placeholder ? QIcon() : n.folder ? icons_.folder() : icons_.file(QString::fromStdString(n.text));
    // The root item starts checked, and so the whole tree under it.
    bool checked = !parent || tree->getCheck(parent);
    QTreeWidgetItem* item = tree->insertItem(QString::fromStdString(n.text), icon, parent, checked);
    item->setData(0, kNodeRole, node);
    if (n.red) item->setForeground(0, kDeletedColour);
    nodeItems_[node] = item;
    for (int c : n.children) addNodeItem(item, c);
    return item;
}

void VolumeScanDlg::showTopLevel() {
    treeShown_ = true;
    tree->deleteAllItems();
    nodeItems_.clear();
    fileList->clearRows();
    const ResultsTree& model = driver_->tree();
    if (model.root() < 0) return;
    QTreeWidgetItem* root = addNodeItem(nullptr, model.root());
    root->setIcon(0, icons_.folder());
    root->setExpanded(true);
    tree->setCurrentItem(root);
}

bool VolumeScanDlg::populate(QTreeWidgetItem* item, bool colourDeleted) {
    int node = nodeOf(item);
    if (node < 0 || !driver_) return false;
    if (!driver_->tree().populate(*adapter_, node, colourDeleted)) return false;
    tree->setUpdatesEnabled(false);
    while (item->childCount() > 0) {
        QTreeWidgetItem* child = item->child(item->childCount() - 1);
        nodeItems_.erase(nodeOf(child));
        tree->deleteItem(child);
    }
    for (int c : driver_->tree().node(node).children) addNodeItem(item, c);
    tree->setUpdatesEnabled(true);
    return true;
}

QStringList VolumeScanDlg::rowTexts(EntryId entry, const QString& name) const {
    DisplayTexts t = adapter_->displayTexts(entry);
    return {name,
            QString::fromStdString(t.creation),
            QString::fromStdString(t.access),
            QString::fromStdString(t.modification),
            QString::fromStdString(adapter_->sizeText(entry)),
            QString::fromStdString(t.attributes)};
}

void VolumeScanDlg::listFiles(QTreeWidgetItem* item) {
    int node = nodeOf(item);
    if (node < 0 || !driver_) return;
    const ResultNode& n = driver_->tree().node(node);
    if (n.placeholder) return;
    fileList->setUpdatesEnabled(false);
    if (n.folder) {
        populate(item, true);
        fileList->clearRows();
        listShowsSearchResults = false;
        for (int c : driver_->tree().fileChildren(node)) {
            const ResultNode& f = driver_->tree().node(c);
            auto it = nodeItems_.find(c);
            bool checked = it != nodeItems_.end() && tree->getCheck(it->second);
            int row = fileList->appendRow(rowTexts(f.entry, QString::fromStdString(f.text)), c, checked,
                                          icons_.file(QString::fromStdString(f.text)));
            if (f.deleted) fileList->item(row, 0)->setForeground(kDeletedColour);
        }
    } else {
        fileList->clearRows();
        listShowsSearchResults = false;
        fileList->appendRow(rowTexts(n.entry, QString::fromStdString(n.text)), node, tree->getCheck(item),
                            icons_.file(QString::fromStdString(n.text)));
    }
    fileList->updateHeader();
    fileList->setUpdatesEnabled(true);
}

void VolumeScanDlg::onLabelClicked(QTreeWidgetItem* item) {
    if (!item || running_) return;
    listFiles(item);
}

void VolumeScanDlg::onDoubleClicked(QTreeWidgetItem* item) {
    int node = nodeOf(item);
    if (node < 0 || !driver_) return;
    if (refuseWhileRunning()) return;
    const ResultNode& n = driver_->tree().node(node);
    if (n.placeholder) return;
    if (n.folder) {
        listFiles(item);
        item->setExpanded(true);
        return;
    }
    saveFileAt(item);
}

void VolumeScanDlg::setBusyLook(bool busy) {
    tree->setEnabled(!busy);
    searchButton->setEnabled(!busy);
    saveButton->setEnabled(!busy);
}

void VolumeScanDlg::saveFileAt(QTreeWidgetItem* item) {
    // No folder chosen yet: ask for one instead of writing to a fixed place.
    if (outputFolder.isEmpty()) outputFolder = prompter().chooseFolder(this);
    if (outputFolder.isEmpty()) {
        prompter().information(this, QStringLiteral("Please select valid output folder"));
        return;
    }
    EntryId entry = driver_->tree().node(nodeOf(item)).entry;
    saveWalk_ = std::make_unique<SaveWalk>(*adapter_, *observer_);
    beginJob(Job::Save, &saveWalk_->control());
    setBusyLook(true);
    GuiObserver* observer = observer_.get();
    SaveWalk* walk = saveWalk_.get();
    std::string folder = outputFolder.toStdString();
    worker_.start([this, observer, walk, entry, folder] {
        SaveOutcome out = walk->saveFile(entry, folder);
        std::string path = out.lastSaved;
        observer->post([this, out, path] {
            endJob();
            setBusyLook(false);
            if (out.failed > 0 && !out.failures.empty())
                prompter().information(this, QString::fromStdString(out.failures.front()));
            else if (fileSystem(adapter_->kind()).announcesSavedFile)
                prompter().information(this,
                                       QStringLiteral("file is dumped in path  :  %1   ").arg(QString::fromStdString(path)));
        });
    });
}

void VolumeScanDlg::onSave() {
    if (refuseWhileRunning() || !driver_) return;
    QString folder = prompter().chooseFolder(this);
    outputFolder = folder;
    if (folder.isEmpty()) {
        prompter().information(this, QStringLiteral("Please select valid output folder"));
        return;
    }
    int node = nodeOf(tree->currentItem());
    if (node < 0) return;
    const ResultNode& n = driver_->tree().node(node);
    if (n.placeholder || !n.folder || n.entry == kNoEntry || !adapter_->isFolder(n.entry)) return;
    EntryId entry = n.entry;
    saveWalk_ = std::make_unique<SaveWalk>(*adapter_, *observer_);
    beginJob(Job::Save, &saveWalk_->control());
    setBusyLook(true);
    GuiObserver* observer = observer_.get();
    SaveWalk* walk = saveWalk_.get();
    std::string target = folder.toStdString();
    worker_.start([this, observer, walk, entry, target] {
        walk->saveFolder(entry, target);
        observer->post([this] {
            endJob();
            setBusyLook(false);
        });
    });
}

void VolumeScanDlg::onSearch() {
    if (refuseWhileRunning() || !driver_) return;
    std::string text = searchBox->text().toStdString();
    beginJob(Job::Search, &jobControl_);
    jobControl_.reset();
    fileList->clearRows();
    listShowsSearchResults = true;
    searchFinishedPending_ = false;
    setBusyLook(true);
    GuiObserver* observer = observer_.get();
    worker_.start([this, observer, text] {
        auto outcome = std::make_shared<SearchOutcome>(searchNames(*adapter_, text, *observer, jobControl_));
        observer->post([this, outcome] {
            fileList->setUpdatesEnabled(false);
            for (const SearchHit& hit : outcome->hits) {
                int row = fileList->appendRow(rowTexts(hit.entry, QString::fromStdString(hit.path)),
                                              QVariant::fromValue<qlonglong>(hit.entry), false,
                                              icons_.file(QString::fromStdString(adapter_->name(hit.entry))));
                if (adapter_->isDeleted(hit.entry)) fileList->item(row, 0)->setForeground(kDeletedColour);
            }
            fileList->updateHeader();
            // Paths are longer than names: show them whole.
            fileList->resizeColumnToContents(0);
            fileList->setUpdatesEnabled(true);
            endJob();
            setBusyLook(false);
            screenshot(this, QStringLiteral("6-results-search"));
            if (searchFinishedPending_) {
                searchFinishedPending_ = false;
                prompter().information(this, QStringLiteral("Searching Finished"));
            }
        });
    });
}

}  // namespace ondrel::ui
