#pragma once
// The results page: runs the chosen volume's scan on a worker, then shows the
// recovered folders in a check-box tree (deeper levels added when a folder is
// opened) and a folder's files in a check-box list, and saves and searches.
#include "fs/FileSystemAdapter.h"
#include "results/SaveWalk.h"
#include "results/ScanDriver.h"
#include "results/Search.h"
#include "ui/app/LongProgressBar.h"
#include "ui/app/WorkerThread.h"
#include "ui/controls/FileIcons.h"
#include "ui/pages/WizardPage.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <unordered_map>

class QLabel;
class QLineEdit;
class QTreeWidgetItem;

namespace ondrel::ui {

class CCheckListCtrl;
class CXHtmlTree;
class GuiObserver;

class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    // parser: the one the advanced-input page primed (mode 2); otherwise the
    // page creates its own.
    VolumeScanDlg(QWidget* parentPage, const VolumeRecord& record, int mode,
                  std::shared_ptr<FileSystemAdapter> parser = nullptr);
    ~VolumeScanDlg() override;

    // Picks the parser and starts the scan (called once the page is shown).
    void start();

    QLineEdit* volumeData = nullptr;
    QLineEdit* searchBox = nullptr;
    QPushButton* searchButton = nullptr;
    CXHtmlTree* tree = nullptr;
    CCheckListCtrl* fileList = nullptr;
    LongProgressBar* progress = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* resumeButton = nullptr;
    QPushButton* stopButton = nullptr;
    QLabel* statusLine = nullptr;
    QLabel* detailLine = nullptr;
    QPushButton* saveButton = nullptr;

    int mode = 1;
    VolumeRecord record;
    QString outputFolder;
    bool listShowsSearchResults = false;

    bool running() const { return running_; }
    FileSystemAdapter* parser() const { return adapter_.get(); }

    // The user's actions, as the buttons and the tree call them.
    void onSave();
    void onSearch();
    void onLabelClicked(QTreeWidgetItem* item);
    void onDoubleClicked(QTreeWidgetItem* item);
    void pause();
    void resume();
    void stop();

protected:
    void stopWorkers() override;

private:
    enum class Job { None, Scan, Search, Save };

    bool refuseWhileRunning();
    void beginJob(Job job, WorkControl* control);
    void endJob();
    void showTopLevel();
    QTreeWidgetItem* addNodeItem(QTreeWidgetItem* parent, int node);
    bool populate(QTreeWidgetItem* item, bool colourDeleted);
    void listFiles(QTreeWidgetItem* item);
    QStringList rowTexts(EntryId entry, const QString& name) const;
    int nodeOf(const QTreeWidgetItem* item) const;
    void setBusyLook(bool busy);
    void saveFileAt(QTreeWidgetItem* item);

    std::shared_ptr<FileSystemAdapter> adapter_;
    std::unique_ptr<GuiObserver> observer_;
    std::unique_ptr<ScanDriver> driver_;
    std::unique_ptr<SaveWalk> saveWalk_;
    WorkerThread worker_;
    WorkControl jobControl_;
    WorkControl* activeControl_ = nullptr;
    Job job_ = Job::None;
    bool running_ = false;
    bool treeShown_ = false;
    bool searchFinishedPending_ = false;
    FileIcons icons_;
    std::unordered_map<int, QTreeWidgetItem*> nodeItems_;
};

}  // namespace ondrel::ui
