// The check-box tree and list as widgets: clicks on the check box, Space, the
// header check box, label clicks.
#include "ui/controls/CCheckListCtrl.h"
#include "ui/controls/CXHtmlTree.h"

#include <QSignalSpy>
#include <QTest>

using namespace ondrel::ui;

class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void clickOnTheCheckBoxChecksTheSubtree() {
        CXHtmlTree tree;
        tree.Initialize(true, true);
        QTreeWidgetItem* root = tree.insertItem("root", {}, nullptr);
        QTreeWidgetItem* folder = tree.insertItem("folder", {}, root);
        for (int i = 0; i < 3; ++i) tree.insertItem(QString("file%1").arg(i), {}, folder);
        for (int i = 0; i < 5; ++i) tree.insertItem(QString("other%1").arg(i), {}, root);
        tree.expandAll();
        tree.resize(300, 400);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));

        QSignalSpy checks(&tree, &CXHtmlTree::checkBoxClicked);
        QSignalSpy labels(&tree, &CXHtmlTree::labelClicked);
        QRect box = tree.checkBoxRect(folder);
        QVERIFY(box.isValid());
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, box.center());
        QVERIFY(tree.getCheck(folder));
        QVERIFY(tree.getCheck(folder->child(2)));
        QCOMPARE(folder->child(0)->checkState(0), Qt::Checked);
        // The root has five unchecked items besides: partly checked, reads unchecked.
        QCOMPARE(root->checkState(0), Qt::PartiallyChecked);
        QVERIFY(!tree.getCheck(root));
        QVERIFY(!checks.isEmpty());
        QCOMPARE(labels.count(), 0);

        // A label click is not a check change.
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(folder->child(1)).center() + QPoint(25, 0));
        QCOMPARE(labels.count(), 1);
        QCOMPARE(labels.first().first().value<QTreeWidgetItem*>(), folder->child(1));
        QVERIFY(tree.getCheck(folder->child(1)));

        // Space clears the current file; its folder becomes partly checked.
        tree.setCurrentItem(folder->child(1));
        QTest::keyClick(tree.viewport(), Qt::Key_Space);
        QVERIFY(!tree.getCheck(folder->child(1)));
        QCOMPARE(folder->checkState(0), Qt::PartiallyChecked);

        // Space on a disabled item changes nothing.
        tree.setItemDisabled(folder->child(2), true);
        tree.setCurrentItem(folder->child(2));
        QTest::keyClick(tree.viewport(), Qt::Key_Space);
        QVERIFY(tree.getCheck(folder->child(2)));

        // Deleting the checked files leaves the folder's count right.
        tree.deleteItem(folder->child(0));
        QCOMPARE(folder->childCount(), 2);
        QCOMPARE(tree.stateImage(folder) & 3, 3);
    }

    void headerCheckBoxTicksEveryRow() {
        CCheckListCtrl list;
        list.setColumnCount(2);
        list.setHorizontalHeaderLabels({"File(s) List", "Size"});
        list.initialise();
        QVERIFY(!list.headCtrl()->isChecked());
        // With no rows, a click shows the checked image.
        list.clickHeader();
        QVERIFY(list.headCtrl()->isChecked());
        list.clickHeader();
        for (int i = 0; i < 3; ++i) list.appendRow({QString("f%1").arg(i), "1 Bytes"}, i, false);
        list.clickHeader();
        QVERIFY(list.rowChecked(0) && list.rowChecked(1) && list.rowChecked(2));
        QVERIFY(list.headCtrl()->isChecked());

        // A user's change of one row clears the header and is reported.
        QSignalSpy rows(&list, &CCheckListCtrl::rowCheckChanged);
        list.item(1, 0)->setCheckState(Qt::Unchecked);
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows.first().at(0).toInt(), 1);
        QVERIFY(!list.headCtrl()->isChecked());
        list.item(1, 0)->setCheckState(Qt::Checked);
        QVERIFY(list.headCtrl()->isChecked());

        // Rows added unticked after the list was emptied clear the header.
        list.clearRows();
        QVERIFY(list.headCtrl()->isChecked());
        list.appendRow({"new", "1 Bytes"}, 9, false);
        list.updateHeader();
        QVERIFY(!list.headCtrl()->isChecked());
    }
};

int runControlsTest(int argc, char** argv) {
    ControlsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ControlsTest.moc"
