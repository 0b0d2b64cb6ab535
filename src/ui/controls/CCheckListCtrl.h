#pragma once
// The file list: rows with check boxes, and a header check box in column 0
// that ticks or clears all rows and shows whether all rows are ticked.
#include "ui/controls/CCheckHeadCtrl.h"
#include "ui/controls/CheckTreeLogic.h"

#include <QTableWidget>

namespace ondrel::ui {

class CCheckListCtrl : public QTableWidget {
    Q_OBJECT
public:
    explicit CCheckListCtrl(QWidget* parent = nullptr);

    // Once, after the columns exist: the header check box shows unchecked.
    void initialise();
    CCheckHeadCtrl* headCtrl() const { return head_; }

    // Appends a row; its first cell carries the check box and data.
    int appendRow(const QStringList& texts, const QVariant& data, bool checked, const QIcon& icon = {});
    void clearRows();
    bool rowChecked(int row) const;
    void setRowChecked(int row, bool checked);
    // A click on column 0's header.
    void clickHeader();
    // Shows in the header whether every row is ticked (after rows were added).
    void updateHeader() { rowsChanged(); }

signals:
    // The user ticked or cleared one row's check box.
    void rowCheckChanged(int row, bool checked);

private:
    void rowsChanged();

    CCheckHeadCtrl* head_;
    CheckListHeaderLogic logic_;
    bool initialised_ = false;
    int programmatic_ = 0;
};

}  // namespace ondrel::ui
