#pragma once
// The file list's header: column 0 carries a check box that ticks or clears
// every row, drawn by the platform style as the section's icon.
#include <QHeaderView>

namespace ondrel::ui {

class CCheckHeadCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CCheckHeadCtrl(QWidget* parent = nullptr);

    // Shows image 2 (checked) or 1 (unchecked) in column 0.
    void setChecked(bool checked);
    bool isChecked() const { return checked_; }
    // Draws the column-0 icon again (after the model's header data changed).
    void showState();

signals:
    void checkClicked();

private:
    bool checked_ = false;
};

}  // namespace ondrel::ui
