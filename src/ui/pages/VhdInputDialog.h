#pragma once
// The image page, first of the wizard and the main window: the image type, the
// image file, what the file says of its geometry and size, and the size
// corrections the readers honour.
#include "diskimage/ImageInfo.h"
#include "diskimage/ImageKind.h"
#include "ui/pages/WizardPage.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace ondrel::ui {

class VhdInputDialog : public WizardPage {
    Q_OBJECT
public:
    explicit VhdInputDialog(QWidget* parent = nullptr);

    QRadioButton* dynamicDisk = nullptr;
    QRadioButton* fixedDisk = nullptr;
    QRadioButton* vdiDisk = nullptr;
    QRadioButton* vmdkDisk = nullptr;
    QRadioButton* qcow2Disk = nullptr;
    QRadioButton* vhdxDisk = nullptr;
    QLineEdit* pathBox = nullptr;
    QPushButton* browseButton = nullptr;
    QGroupBox* infoGroup = nullptr;
    QLabel* versionValue = nullptr;
    QLabel* sectorsValue = nullptr;
    QLabel* headValue = nullptr;
    QLabel* cylinderValue = nullptr;
    QLineEdit* sizeBox = nullptr;
    QLineEdit* tableBox = nullptr;
    QLabel* chainValue = nullptr;  // the files behind the disk, child first
    // Further disks of the same machine (an LVM2 volume group over several).
    QPushButton* addDiskButton = nullptr;
    QPushButton* clearDisksButton = nullptr;
    QLabel* furtherValue = nullptr;
    QStringList furtherPaths;

    // 0 none yet, 1 dynamic VHD, 2 VDI, 3 VMDK, 4 qcow2, 5 VHDX; a fixed disk
    // leaves it as it was.
    int imageType = 0;
    QString imagePath;
    // The "Size of HDD" the file itself gave; an unchanged box is no correction.
    quint64 shownSizeMb = 0;

    ImageChoice choice() const;
    // Takes an image chosen in the file dialog (or given on the command line).
    void takeImage(const QString& path);
    // Picks the image type from the file's content, then takes it.
    void preset(const QString& path);
    // Opens the chosen image with the reader of its type, honouring the
    // corrections in options (a dynamic VHD must be named *.vhd).
    OpenedImage openChosenImage(const OpenOptions& options = {}) const;
    // Each further disk, its kind found from its content; a failure carries its message.
    std::vector<OpenedImage> openFurtherImages() const;
    // Adds a further disk (from the file dialog, or given directly).
    void addFurtherDisk(const QString& path);

    // Files outside the image's folder that the user allowed it to name (as
    // parent or extent), asked for by name when the image was taken.
    std::vector<std::string> allowedReferences;

    void onNext();

private:
    void chooseType(QRadioButton* radio);
    void showInformation(bool visible);
    void browse();

    QList<QWidget*> infoWidgets_;
    QList<QWidget*> tableWidgets_;
};

}  // namespace ondrel::ui
