#pragma once
// The scan-mode page: how volumes are found (partition tables or the sector
// sweep, with their options), and the export of the whole virtual disk.
#include "diskimage/ImageFactory.h"
#include "common/WorkControl.h"
#include "ui/app/LongProgressBar.h"
#include "ui/app/WorkerThread.h"
#include "ui/pages/WizardPage.h"

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace ondrel::ui {

class GuiObserver;
class VhdInputDialog;

class DriveParsingModes : public WizardPage {
    Q_OBJECT
public:
    explicit DriveParsingModes(VhdInputDialog* imagePage);
    ~DriveParsingModes() override;

    QLabel* driveValue = nullptr;
    QCheckBox* gptFormat = nullptr;
    QRadioButton* standardScan = nullptr;
    QRadioButton* advanceScan = nullptr;
    QCheckBox* doNotSkip = nullptr;
    QCheckBox* customSetting = nullptr;
    QLineEdit* startSectorBox = nullptr;
    QLineEdit* endSectorBox = nullptr;
    QCheckBox* saveDiskImageCheck = nullptr;
    QLineEdit* exportPathBox = nullptr;
    QPushButton* saveDiskImageButton = nullptr;
    LongProgressBar* progress = nullptr;
    QPushButton* stopButton = nullptr;
    QLabel* statusLine = nullptr;

    QString imagePathText;
    QString exportPath;

    bool exportRunning() const { return worker_.running(); }
    // How the later pages open the image: the size corrections of the image
    // page ("Size of HDD", "MAXIMUM TABLE ENTRIES") and what the user allowed it to name.
    OpenOptions openOptions() const;
    void onNext();
    void saveDiskImage();

protected:
    void stopWorkers() override;

private:
    void setMode(bool advanced);
    void exportFinished();

    VhdInputDialog* imagePage_;
    std::uint64_t diskSizeOverride_ = 0;
    std::uint64_t tableEntriesOverride_ = 0;
    WorkerThread worker_;
    WorkControl exportControl_;
    std::unique_ptr<GuiObserver> observer_;
    QList<QWidget*> sectorWidgets_;
};

}  // namespace ondrel::ui
