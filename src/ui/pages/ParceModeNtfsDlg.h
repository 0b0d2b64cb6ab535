#pragma once
// The recovery-mode page (for every file system, despite its name): Standard,
// Advanced or Deep, the number of structures the advanced search looks for,
// and "Is Drive Formated..?".
#include "fs/FileSystemEntry.h"
#include "ui/pages/WizardPage.h"
#include "volumes/VolumeRecord.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace ondrel::ui {

class ParceModeNtfsDlg : public WizardPage {
    Q_OBJECT
public:
    ParceModeNtfsDlg(QWidget* parentPage, const VolumeRecord& chosen);

    QRadioButton* standardMode = nullptr;
    QRadioButton* advancedMode = nullptr;
    QRadioButton* deepMode = nullptr;
    QLineEdit* maxFileSystemsBox = nullptr;
    QCheckBox* driveFormattedCheck = nullptr;

    VolumeRecord record;
    // The chosen volume's file system; null when the registry does not know it.
    const FileSystemEntry* fileSystemEntry = nullptr;
    int recoveryMode = 1;

    void setMode(int mode);
    void onNext();
};

}  // namespace ondrel::ui
