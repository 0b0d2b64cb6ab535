#pragma once
// The dialog in which the user writes signature definitions into a settings
// file, one record per Save.
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace ondrel::ui {

class RawSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit RawSettingDlg(QWidget* parent);

    QLineEdit *extension, *startSignature, *startOffset, *endSignature, *sizeOffset, *sizeBytes, *headerSize, *sizeToSkip,
        *approximateSize, *category;
    QCheckBox* sizeIncludesHeader = nullptr;
    QLineEdit* pathBox = nullptr;
    QPushButton *pickButton = nullptr, *saveButton = nullptr, *okButton = nullptr, *cancelButton = nullptr;
    QString settingsPath;  // the chosen settings file

    void onPick();
    void onSave();
};

}  // namespace ondrel::ui
