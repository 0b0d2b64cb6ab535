#pragma once
// The results tree: items with three-state check boxes that follow each other
// up and down the tree (smart check), drawn by the platform style. The check
// logic lives in CheckTreeLogic; this class maps it onto Qt's tree items and
// tells the page about label clicks, check changes and expansions.
#include "ui/controls/CheckTreeLogic.h"

#include <QTreeWidget>

#include <vector>

namespace ondrel::ui {

class CXHtmlTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CXHtmlTree(QWidget* parent = nullptr);

    // Clears the tree and sets the defaults: check boxes on, smart check off.
    void Initialize(bool checkBoxes = true, bool smartCheck = false);
    void setSmartCheck(bool on) { logic_.smartCheck = on; }
    void setReadOnly(bool on) { logic_.readOnly = on; }

    // Appends an item to parent's children (null: a top-level item).
    QTreeWidgetItem* insertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent, bool checked = false,
                                bool hasCheckBox = true);
    void deleteItem(QTreeWidgetItem* item);
    void deleteAllItems();

    void setCheck(QTreeWidgetItem* item, bool flag);
    // Partly checked folders read as unchecked.
    bool getCheck(QTreeWidgetItem* item) const;
    void toggleCheck(QTreeWidgetItem* item);
    void setItemDisabled(QTreeWidgetItem* item, bool disabled);
    // 1 unchecked, 2 checked, 3 partly checked; +4 without a check box.
    int stateImage(QTreeWidgetItem* item) const;
    void expandAllBelow(QTreeWidgetItem* item);

    // The screen rectangle of an item's check box.
    QRect checkBoxRect(QTreeWidgetItem* item) const;

signals:
    // The user clicked an item's label (not its check box).
    void labelClicked(QTreeWidgetItem* item);
    // An item's check flag changed by a click, Space or setCheck.
    void checkBoxClicked(QTreeWidgetItem* item, bool checked);
    // An item was expanded (true) or collapsed (false).
    void itemExpandedNotice(QTreeWidgetItem* item, bool expanded);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CheckTreeLogic::Item idOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* itemOf(CheckTreeLogic::Item id) const;
    void refresh(CheckTreeLogic::Item id);
    // Shows the state of an item, its ancestors and its descendants.
    void refreshAround(CheckTreeLogic::Item id);
    QTreeWidgetItem* nextWithCheckBox(QTreeWidgetItem* from, bool down) const;
    void forgetSubtree(QTreeWidgetItem* item);

    CheckTreeLogic logic_;
    std::vector<QTreeWidgetItem*> items_;
};

}  // namespace ondrel::ui
