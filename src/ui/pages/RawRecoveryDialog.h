#pragma once
// Signature recovery: loads the definitions (the default "FileSetting.txt" and
// a file of the user's), scans the chosen volume for them on a worker, shows
// the finds by category and saves the ticked ones.
#include "carving/CarvingJob.h"
#include "ui/app/LongProgressBar.h"
#include "ui/app/WorkerThread.h"
#include "ui/controls/FileIcons.h"
#include "ui/pages/WizardPage.h"
#include "volumes/VolumeRecord.h"

#include <map>
#include <memory>

class QCheckBox;
class QTimer;
class QLabel;
class QLineEdit;
class QTreeWidgetItem;

namespace ondrel::ui {

class CCheckListCtrl;
class CXHtmlTree;
class GuiObserver;

class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
public:
    RawRecoveryDialog(QWidget* parentPage, const VolumeRecord& record);
    ~RawRecoveryDialog() override;

    QLineEdit* pathBox = nullptr;
    QPushButton* pickButton = nullptr;
    QPushButton* parseButton = nullptr;
    QCheckBox* loadDefault = nullptr;
    QPushButton* settingsButton = nullptr;
    CXHtmlTree* tree = nullptr;
    CCheckListCtrl* fileList = nullptr;
    LongProgressBar* progress = nullptr;
    QPushButton *pauseButton = nullptr, *resumeButton = nullptr, *stopButton = nullptr;
    QLabel* statusLine = nullptr;
    QLineEdit* outputBox = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* saveButton = nullptr;
    // Shown when the volume's file system is known: carve only what it marks free.
    QCheckBox* freeSpaceOnly = nullptr;

    VolumeRecord record;
    QString outputFolder;

    bool running() const { return running_; }
    const CarvedAdapter* finds() const { return job_.finds(); }
    // The finds ticked in the tree (every category), which Save writes.
    std::vector<EntryId> tickedFinds() const;

    void onPick();
    void onParse();
    void onSettings();
    void onBrowse();
    void onSave();
    void onLabelClicked(QTreeWidgetItem* item);
    void pause();
    void resume();
    void stop();

protected:
    void stopWorkers() override;

private:
    bool refuseWhileRunning();
    void setRunning(bool on);
    void showFinds();
    void finishParse(const QString& status);
    // While a scan runs: the categories at once, then each find as it is made.
    void startLiveTree();
    void showLiveFinds();
    void syncListToTree(int row);
    void syncTreeToList(QTreeWidgetItem* item, bool checked);

    CarvingJob job_;
    std::string freeSpaceFileSystem_;  // "" when the volume's file system is not known
    bool definitionsStarted_ = false;
    QTimer* liveTimer_ = nullptr;
    struct LiveCategory {
        QTreeWidgetItem* item = nullptr;
        long long count = 0;
    };
    std::map<std::string, LiveCategory> liveCategories_;
    std::map<EntryId, QTreeWidgetItem*> findItems_;
    std::map<EntryId, int> listRows_;  // the finds the file list shows, by row
    bool syncing_ = false;
    CarvedAdapter* adapter_ = nullptr;  // the job's finds, once shown
    std::unique_ptr<GuiObserver> observer_;
    WorkerThread worker_;
    WorkControl control_;
    bool running_ = false;
    FileIcons icons_;
};

}  // namespace ondrel::ui
