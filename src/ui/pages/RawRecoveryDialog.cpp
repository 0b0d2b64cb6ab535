#include "ui/pages/RawRecoveryDialog.h"

#include "carving/DefaultSignatures.h"
#include "fs/FileSystemRegistry.h"
#include "results/SaveWalk.h"
#include "ui/app/GuiObserver.h"
#include "ui/app/Prompter.h"
#include "ui/controls/CCheckHeadCtrl.h"
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"
#include "ui/pages/RawSettingDlg.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <set>

namespace ondrel::ui {

namespace {
constexpr int kEntryRole = Qt::UserRole + 1;
const char* kWaitText = "Please wait for the running process.";
const char* kDoneText = "Scanning processing done.Select save button to save the data.";
}  // namespace

RawRecoveryDialog::RawRecoveryDialog(QWidget* parentPage, const VolumeRecord& r) : WizardPage(parentPage), record(r) {
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(
        QStringLiteral("Click Parse button to add default file settings or create your own file to process raw recovery."), this);
    auto* top = new QHBoxLayout(group);
    pathBox = new QLineEdit(group);
    pickButton = new QPushButton(QStringLiteral("..."), group);
    parseButton = new QPushButton(QStringLiteral("Parse"), group);
    loadDefault = new QCheckBox(QStringLiteral("Load Default Items"), group);
    loadDefault->setChecked(true);
    settingsButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), QString(), group);
    settingsButton->setToolTip(QStringLiteral("Setting"));
    top->addWidget(pathBox, 1);
    top->addWidget(pickButton);
    top->addWidget(parseButton);
    top->addWidget(loadDefault);
    top->addWidget(settingsButton);
    top->addWidget(new QLabel(QStringLiteral("[Add new signatures in \n new/existing file]"), group));
    layout->addWidget(group);
    // Carving what the file system marks free finds deleted files, not the live ones again.
    freeSpaceFileSystem_ = CarvingJob::freeSpaceFileSystem(record);
    const FileSystemEntry* known = findFileSystem(freeSpaceFileSystem_);
    freeSpaceOnly = new QCheckBox(QStringLiteral("Carve only the free space of the %1 file system")
                                      .arg(QString::fromStdString(known ? known->treatAsItem : freeSpaceFileSystem_)),
                                  this);
    freeSpaceOnly->setVisible(!freeSpaceFileSystem_.empty());
    layout->addWidget(freeSpaceOnly);

    auto* split = new QSplitter(Qt::Horizontal, this);
    tree = new CXHtmlTree(split);
    fileList = new CCheckListCtrl(split);
    fileList->setColumnCount(1);
    fileList->setHorizontalHeaderLabels({QStringLiteral("File(s) List")});
    fileList->setColumnWidth(0, 300);
    fileList->horizontalHeader()->setStretchLastSection(true);
    fileList->initialise();
    split->addWidget(tree);
    split->addWidget(fileList);
    split->setSizes({300, 600});
    layout->addWidget(split, 1);

    auto* controls = new QHBoxLayout;
    progress = new LongProgressBar(this);
    pauseButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPause), QString(), this);
    pauseButton->setToolTip(QStringLiteral("Pause"));
    resumeButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString(), this);
    resumeButton->setToolTip(QStringLiteral("Resume"));
    stopButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QString(), this);
    stopButton->setToolTip(QStringLiteral("Stop"));
    controls->addWidget(progress, 1);
    for (auto* b : {pauseButton, resumeButton, stopButton}) controls->addWidget(b);
    layout->addLayout(controls);
    statusLine = new QLabel(this);
    layout->addWidget(statusLine);

    auto* outRow = new QHBoxLayout;
    browseButton = new QPushButton(QStringLiteral("Browse"), this);
    outputBox = new QLineEdit(this);
    outputBox->setReadOnly(true);
    saveButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Save"), this);
    outRow->addWidget(browseButton);
    outRow->addWidget(outputBox, 1);
    outRow->addWidget(saveButton);
    layout->addLayout(outRow);
    auto* buttons = buttonRow(true);
    nextButton->hide();
    layout->addLayout(buttons);
    for (auto* b : {pickButton, parseButton, settingsButton, pauseButton, resumeButton, stopButton, browseButton, saveButton})
        b->setAutoDefault(false);

    tree->Initialize(true, true);
    tree->setIconSize(QSize(16, 16));
    connect(pickButton, &QPushButton::clicked, this, &RawRecoveryDialog::onPick);
    connect(parseButton, &QPushButton::clicked, this, &RawRecoveryDialog::onParse);
    connect(settingsButton, &QPushButton::clicked, this, &RawRecoveryDialog::onSettings);
    connect(browseButton, &QPushButton::clicked, this, &RawRecoveryDialog::onBrowse);
    connect(saveButton, &QPushButton::clicked, this, &RawRecoveryDialog::onSave);
    connect(pauseButton, &QPushButton::clicked, this, &RawRecoveryDialog::pause);
    connect(resumeButton, &QPushButton::clicked, this, &RawRecoveryDialog::resume);
    connect(stopButton, &QPushButton::clicked, this, &RawRecoveryDialog::stop);
    connect(tree, &CXHtmlTree::labelClicked, this, &RawRecoveryDialog::onLabelClicked);
    // The file list's ticks are the tree's: Save writes what either shows ticked.
    connect(fileList, &CCheckListCtrl::rowCheckChanged, this, [this](int row, bool) { syncListToTree(row); });
    connect(fileList->headCtrl(), &CCheckHeadCtrl::checkClicked, this, [this] {
        for (int row = 0; row < fileList->rowCount(); ++row) syncListToTree(row);
    });
    connect(tree, &CXHtmlTree::checkBoxClicked, this, &RawRecoveryDialog::syncTreeToList);
    liveTimer_ = new QTimer(this);
    liveTimer_->setInterval(200);
    connect(liveTimer_, &QTimer::timeout, this, &RawRecoveryDialog::showLiveFinds);
    job_.collectLiveFinds(true);
    connect(backButton, &QPushButton::clicked, this, [this] {
        if (refuseWhileRunning()) return;
        goBack();
    });

    observer_ = std::make_unique<GuiObserver>(this);
    observer_->showOn(this, statusLine, progress);
    for (auto* w : QList<QWidget*>{progress, pauseButton, resumeButton, stopButton}) w->hide();
    statusLine->setText(QStringLiteral("Please select parse button to scan the default file."));
    resize(960, 640);
}

RawRecoveryDialog::~RawRecoveryDialog() { stopWorkers(); }

void RawRecoveryDialog::stopWorkers() {
    control_.requestStop();
    if (observer_) observer_->close();
    worker_.join();
}

bool RawRecoveryDialog::refuseWhileRunning() {
    if (!running_) return false;
    prompter().information(this, QString::fromUtf8(kWaitText));
    return true;
}

void RawRecoveryDialog::setRunning(bool on) {
    running_ = on;
    for (auto* w : QList<QWidget*>{progress, pauseButton, resumeButton, stopButton}) w->setVisible(on);
    settingsButton->setEnabled(!on);
    loadDefault->setEnabled(!on);
    freeSpaceOnly->setEnabled(!on);
    backButton->setEnabled(!on);
    saveButton->setEnabled(!on);
}

void RawRecoveryDialog::onPick() {
    if (refuseWhileRunning()) return;
    QString path = prompter().openFile(this, QStringLiteral(".Text Files (*.txt)"));
    if (!path.isEmpty() && QFileInfo::exists(path)) pathBox->setText(path);
}

void RawRecoveryDialog::finishParse(const QString& status) {
    setRunning(false);
    statusLine->setText(status);
}

void RawRecoveryDialog::onParse() {
    if (refuseWhileRunning()) return;
    setRunning(true);
    if (loadDefault->isChecked()) {
        statusLine->setText(QStringLiteral("Processing....."));
        // Looked for at each parse: the settings dialog may have made the user's file since.
        job_.resetDefinitions(true, findSettingsFile());
        definitionsStarted_ = true;
    } else if (!definitionsStarted_) {
        job_.resetDefinitions(false, {});
        definitionsStarted_ = true;
    }
    if (!pathBox->text().isEmpty() && !job_.addDefinitions(pathBox->text().toStdString())) {
        prompter().information(this, QString::fromStdString(job_.message()));
        finishParse(QString::fromUtf8(kDoneText));
        return;
    }
    if (record.lengthBytes <= 0 || (record.source && record.source->size() <= 0)) {
        prompter().information(this, QStringLiteral("zero size volume.."));
        finishParse(QString::fromUtf8(kDoneText));
        return;
    }
    if (!record.source || !job_.hasDefinitions()) {
        prompter().information(this, QStringLiteral("Enter the info file first.."));
        finishParse(QString::fromUtf8(kDoneText));
        return;
    }
    adapter_ = nullptr;
    fileList->clearRows();
    listRows_.clear();
    control_.reset();
    std::shared_ptr<const ByteSource> source = record.source;
    const std::int64_t diskOffset = record.startSector * 512;
    const bool freeOnly = !freeSpaceFileSystem_.empty() && freeSpaceOnly->isChecked();
    GuiObserver* observer = observer_.get();
    worker_.join();
    startLiveTree();
    liveTimer_->start();
    worker_.start([this, source, observer, diskOffset, freeOnly] {
        const bool scanned = freeOnly ? job_.scanFreeSpace(record, *observer, control_, diskOffset)
                                      : job_.scan(source, *observer, control_, diskOffset);
        const QString failure = scanned ? QString() : QString::fromStdString(job_.message());
        const QString unreadable = QString::fromStdString(job_.unreadableSummary());
        observer->post([this, failure, unreadable] {
            worker_.join();
            liveTimer_->stop();
            showLiveFinds();
            showFinds();
            finishParse(QStringLiteral("Scanning processing done.Select save button to save the data"));
            if (!failure.isEmpty()) prompter().information(this, failure);
            if (!unreadable.isEmpty()) prompter().information(this, unreadable);
            prompter().information(this, QStringLiteral("done.."));
        });
    });
}

void RawRecoveryDialog::startLiveTree() {
    tree->deleteAllItems();
    findItems_.clear();
    liveCategories_.clear();
    QTreeWidgetItem* root = tree->insertItem(QStringLiteral("RAW RECOVERY "), icons_.folder(), nullptr, true);
    // Every category at once, with no finds yet, as the definitions order them.
    for (const std::string& c : job_.scanner().categories())
        liveCategories_[c] = {tree->insertItem(QString::fromStdString(c + " (0)"), icons_.folder(), root, true), 0};
    root->setExpanded(true);
}

void RawRecoveryDialog::showLiveFinds() {
    std::vector<CarvingJob::LiveFind> found = job_.takeLiveFinds();
    if (found.empty() || !tree->topLevelItem(0)) return;
    tree->setUpdatesEnabled(false);
    std::set<std::string> changed;
    for (const CarvingJob::LiveFind& f : found) {
        LiveCategory& c = liveCategories_[f.category];
        if (!c.item) c.item = tree->insertItem(QString(), icons_.folder(), tree->topLevelItem(0), true);
        const QString name = QString::fromStdString(f.name);
        tree->insertItem(name, icons_.file(name), c.item, tree->getCheck(c.item));
        ++c.count;
        changed.insert(f.category);
    }
    for (const std::string& name : changed) {
        const LiveCategory& c = liveCategories_[name];
        c.item->setText(0, QStringLiteral("%1 (%2)").arg(QString::fromStdString(name)).arg(c.count));
    }
    tree->setUpdatesEnabled(true);
}

void RawRecoveryDialog::showFinds() {
    adapter_ = job_.finds();
    // What the user ticked while the scan ran stays ticked (finds are named by their place).
    std::set<QString> ticked;
    bool rootTicked = true;
    if (QTreeWidgetItem* live = tree->topLevelItem(0)) {
        rootTicked = tree->getCheck(live);
        for (int c = 0; c < live->childCount(); ++c)
            for (int i = 0; i < live->child(c)->childCount(); ++i)
                if (tree->getCheck(live->child(c)->child(i))) ticked.insert(live->child(c)->child(i)->text(0));
    }
    tree->deleteAllItems();
    findItems_.clear();
    liveCategories_.clear();
    if (!adapter_) return;
    tree->setUpdatesEnabled(false);
    QTreeWidgetItem* root = tree->insertItem(QString::fromStdString(adapter_->name(0)), icons_.folder(), nullptr, rootTicked);
    root->setData(0, kEntryRole, QVariant::fromValue<qlonglong>(0));
    for (EntryId c : adapter_->children(0)) {
        QTreeWidgetItem* category = tree->insertItem(QString::fromStdString(adapter_->name(c)), icons_.folder(), root, true);
        category->setData(0, kEntryRole, QVariant::fromValue<qlonglong>(c));
        for (EntryId f : adapter_->children(c)) {
            QString name = QString::fromStdString(adapter_->name(f));
            QTreeWidgetItem* item = tree->insertItem(name, icons_.file(name), category, rootTicked || ticked.count(name));
            item->setData(0, kEntryRole, QVariant::fromValue<qlonglong>(f));
            findItems_[f] = item;
            if (const CarvedFile* found = adapter_->find(f); found && (found->unreadable || found->how == CarveEnd::Truncated))
                item->setToolTip(0, found->unreadable ? QStringLiteral("Some of its bytes could not be read.")
                                                      : QStringLiteral("Only the start of this file was found (truncated)."));
        }
    }
    root->setExpanded(true);
    tree->setUpdatesEnabled(true);
}

void RawRecoveryDialog::onLabelClicked(QTreeWidgetItem* item) {
    if (!item || running_ || !adapter_) return;
    fileList->clearRows();
    listRows_.clear();
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        EntryId e = child->data(0, kEntryRole).toLongLong();
        if (adapter_->isFolder(e)) continue;  // its finds, not sub-categories
        listRows_[e] = fileList->appendRow({child->text(0)}, QVariant::fromValue<qlonglong>(e), tree->getCheck(child),
                                           icons_.file(child->text(0)));
    }
    fileList->updateHeader();
}

void RawRecoveryDialog::syncListToTree(int row) {
    auto* cell = fileList->item(row, 0);
    if (!cell || syncing_) return;
    auto it = findItems_.find(cell->data(Qt::UserRole).toLongLong());
    if (it == findItems_.end()) return;
    syncing_ = true;
    tree->setCheck(it->second, fileList->rowChecked(row));
    syncing_ = false;
}

void RawRecoveryDialog::syncTreeToList(QTreeWidgetItem* item, bool checked) {
    if (!item || syncing_) return;
    auto row = listRows_.find(item->data(0, kEntryRole).toLongLong());
    if (row == listRows_.end()) return;
    fileList->setRowChecked(row->second, checked);
    fileList->updateHeader();
}

std::vector<EntryId> RawRecoveryDialog::tickedFinds() const {
    std::vector<EntryId> ticked;
    for (const auto& [entry, item] : findItems_)
        if (tree->getCheck(item)) ticked.push_back(entry);
    return ticked;
}

void RawRecoveryDialog::onSettings() {
    if (refuseWhileRunning()) return;
    RawSettingDlg dialog(this);
    dialog.exec();
}

void RawRecoveryDialog::onBrowse() {
    outputFolder = prompter().chooseFolder(this);
    outputBox->setText(outputFolder);
}

void RawRecoveryDialog::onSave() {
    if (outputFolder.isEmpty()) {
        prompter().information(this, QStringLiteral("Please select folder to continue the saving process."));
        return;
    }
    if (refuseWhileRunning() || !adapter_) return;
    // The ticked finds of every category (the file list's ticks are the tree's).
    const std::vector<EntryId> ticked = tickedFinds();
    setRunning(true);
    control_.reset();
    GuiObserver* observer = observer_.get();
    std::string folder = outputFolder.toStdString();
    worker_.join();
    worker_.start([this, observer, ticked, folder] {
        SaveOutcome o = ticked.empty() ? SaveOutcome{} : job_.save(ticked, folder, *observer, control_);
        std::int64_t saved = o.saved, failed = o.failed;
        observer->post([this, saved, failed] {
            worker_.join();
            setRunning(false);
            statusLine->setText(QStringLiteral("%1 files saved, %2 failed").arg(saved).arg(failed));
            prompter().information(this, QStringLiteral("work done"));
        });
    });
}

void RawRecoveryDialog::pause() {
    if (!running_) return;
    control_.pause();
    statusLine->setText(QStringLiteral("Pause button pressed."));
}

void RawRecoveryDialog::resume() {
    if (!running_) return;
    control_.resume();
    statusLine->setText(QStringLiteral("Resume button pressed."));
}

void RawRecoveryDialog::stop() {
    if (!running_) return;
    control_.requestStop();
    statusLine->setText(QStringLiteral("Stop button pressed.Please wait for the process to stop"));
}

}  // namespace ondrel::ui
