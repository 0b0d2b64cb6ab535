#pragma once
// The volume list page: opens the image with the reader the later pages read
// through (each volume record shares it), lists its volumes (from the
// partition tables on this thread, or by the sector sweep on a worker) as a
// tree, lets the user correct or add a volume, and hands the chosen volume on.
#include "diskimage/readWriteInterface.h"
#include "ui/app/LongProgressBar.h"
#include "ui/app/WorkerThread.h"
#include "ui/pages/WizardPage.h"
#include "volumes/Partition.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace ondrel::ui {

class GuiObserver;

class PopulateDriveDlg : public WizardPage {
    Q_OBJECT
public:
    struct Settings {
        QString imagePath;
        int mode = 1;  // 1 partition tables, 2 sector sweep
        bool doNotSkip = false;
        bool gptMode = false;
        qint64 customStartSector = 0;
        qint64 customEndSector = 0;
    };

    PopulateDriveDlg(QWidget* parentPage, const Settings& settings);
    ~PopulateDriveDlg() override;

    // Opens the reader and finds the volumes (called once the page is shown).
    void start();

    QTableWidget* volumeList = nullptr;
    QPushButton* filterButton = nullptr;
    QPushButton* addCustomButton = nullptr;
    QCheckBox* customSettings = nullptr;
    QLabel* selectedVolume = nullptr;
    QLineEdit* startSectorBox = nullptr;
    QLineEdit* endSectorBox = nullptr;
    QComboBox* treatAs = nullptr;
    LongProgressBar* progress = nullptr;
    QLabel* statusLine = nullptr;
    QPushButton* stopButton = nullptr;
    // Lists the layouts older LVM2 metadata describes (removed or resized volumes).
    QCheckBox* earlierLayouts = nullptr;

    Settings settings;
    // The disk, while the page lives; the records' sources are windows on it.
    std::shared_ptr<readWriteInterface> disk;
    // The further disks the image page names, listed with the first.
    std::vector<std::shared_ptr<readWriteInterface>> furtherDisks;
    std::vector<VolumeRecord> records;
    VolumeRecord chosenRecord;
    bool treatedAsRaw = false;

    // From the start of the sweep until the page has shown its end.
    bool sweeping() const { return sweeping_; }
    void onNext();
    void addCustomVolume();
    void filterEntries();
    void selectRow(int row);

protected:
    void stopWorkers() override;

private:
    std::vector<std::shared_ptr<const ByteSource>> allDisks() const;
    void standardScan();
    void advancedSweep();
    void sweepFinished();
    void insertRow(int row, std::size_t recordIndex);
    void insertRow(int row, std::size_t recordIndex, const VolumeRecord& record);
    void enableCustomControls(bool on);
    void stepSector(QLineEdit* box, int delta);

    std::unique_ptr<Partition> scanner_;
    std::unique_ptr<GuiObserver> observer_;
    WorkerThread worker_;
    bool sweeping_ = false;
    QList<QWidget*> customWidgets_;
};

}  // namespace ondrel::ui
