#pragma once
// The scan-mode page: how volumes are found (partition tables or the sector
// sweep, with their options), and the export of the whole virtual disk.
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
    void onNext();
    void saveDiskImage();

protected:
    void stopWorkers() override;

private:
    void setMode(bool advanced);
    void exportFinished();

    VhdInputDialog* imagePage_;
    WorkerThread worker_;
    WorkControl exportControl_;
    std::unique_ptr<GuiObserver> observer_;
    QList<QWidget*> sectorWidgets_;
};

}  // namespace ondrel::ui
