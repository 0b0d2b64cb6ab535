#pragma once
// The advanced-input page: the file system's search for candidate structures
// (copies of the MFT's own record, FAT copies) runs on a worker, and the user
// picks one candidate and a cluster size before the results page opens.
#include "common/WorkControl.h"
#include "fs/FileSystemAdapter.h"
#include "ui/app/LongProgressBar.h"
#include "ui/app/WorkerThread.h"
#include "ui/pages/WizardPage.h"
#include "volumes/VolumeRecord.h"

#include <memory>

class QComboBox;
class QLabel;

namespace ondrel::ui {

class GuiObserver;
class ParceModeNtfsDlg;

class advanceOptions : public WizardPage {
    Q_OBJECT
public:
    explicit advanceOptions(ParceModeNtfsDlg* modePage);
    ~advanceOptions() override;

    // Starts the search (called once the page is shown).
    void start();

    QLabel* tfsLabel = nullptr;
    QComboBox* tfsCombo = nullptr;
    QComboBox* clusterCombo = nullptr;
    QLabel* heapLabel = nullptr;
    QComboBox* heapCombo = nullptr;
    LongProgressBar* progress = nullptr;
    QLabel* statusLine = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* resumeButton = nullptr;
    QPushButton* stopButton = nullptr;

    qint64 maxFileSystems = 3;
    VolumeRecord record;
    // The parser primed by the search; the results page works with it.
    std::shared_ptr<FileSystemAdapter> parser;

    bool searching() const { return searching_; }
    void onNext();

protected:
    void stopWorkers() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void searchFinished(const AdvancedSearch& search);
    void setClusterControlsVisible(bool visible);

    ParceModeNtfsDlg* modePage_;
    WorkControl control_;
    std::unique_ptr<GuiObserver> observer_;
    WorkerThread worker_;
    bool searching_ = false;
    ParameterChoice cluster_;  // what the cluster box offers
    QList<QWidget*> clusterWidgets_;
};

}  // namespace ondrel::ui
