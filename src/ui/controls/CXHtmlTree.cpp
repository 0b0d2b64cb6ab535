#include "ui/controls/CXHtmlTree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace ondrel::ui {

namespace {
constexpr int kLogicRole = Qt::UserRole + 100;
}

CXHtmlTree::CXHtmlTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* i) { emit itemExpandedNotice(i, true); });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* i) { emit itemExpandedNotice(i, false); });
    logic_.onCheckChanged = [this](CheckTreeLogic::Item id, bool flag) {
        if (QTreeWidgetItem* item = itemOf(id)) emit checkBoxClicked(item, flag);
    };
}

void CXHtmlTree::Initialize(bool checkBoxes, bool smartCheck) {
    deleteAllItems();
    logic_.checkBoxes = checkBoxes;
    logic_.smartCheck = smartCheck;
    logic_.readOnly = false;
}

CheckTreeLogic::Item CXHtmlTree::idOf(const QTreeWidgetItem* item) const {
    if (!item) return CheckTreeLogic::kNoItem;
    QVariant v = item->data(0, kLogicRole);
    return v.isValid() ? v.toInt() : CheckTreeLogic::kNoItem;
}

QTreeWidgetItem* CXHtmlTree::itemOf(CheckTreeLogic::Item id) const {
    if (id < 0 || id >= static_cast<int>(items_.size())) return nullptr;
    return items_[static_cast<std::size_t>(id)];
}

QTreeWidgetItem* CXHtmlTree::insertItem(const QString& text, const QIcon& icon, QTreeWidgetItem* parent, bool checked,
                                        bool hasCheckBox) {
    CheckTreeLogic::Item id = logic_.insertItem(idOf(parent), checked, hasCheckBox);
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setIcon(0, icon);
    item->setData(0, kLogicRole, id);
    // Qt must not toggle the box itself: the logic decides and we show it.
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (hasCheckBox) flags |= Qt::ItemIsSelectable;
    item->setFlags(flags);
    if (static_cast<std::size_t>(id) >= items_.size()) items_.resize(static_cast<std::size_t>(id) + 1, nullptr);
    items_[static_cast<std::size_t>(id)] = item;
    if (parent) parent->addChild(item);
    else addTopLevelItem(item);
    refresh(id);
    if (logic_.smartCheck)
        for (CheckTreeLogic::Item a = logic_.parent(id); a != CheckTreeLogic::kNoItem; a = logic_.parent(a)) refresh(a);
    return item;
}

void CXHtmlTree::forgetSubtree(QTreeWidgetItem* item) {
    for (int i = 0; i < item->childCount(); ++i) forgetSubtree(item->child(i));
    CheckTreeLogic::Item id = idOf(item);
    if (id >= 0 && static_cast<std::size_t>(id) < items_.size()) items_[static_cast<std::size_t>(id)] = nullptr;
}

void CXHtmlTree::deleteItem(QTreeWidgetItem* item) {
    if (!item) return;
    CheckTreeLogic::Item id = idOf(item);
    CheckTreeLogic::Item parent = logic_.parent(id);
    // Children first, so each ancestor's counts drop by every removed item.
    while (item->childCount() > 0) deleteItem(item->child(item->childCount() - 1));
    logic_.deleteItem(id);
    forgetSubtree(item);
    delete item;
    for (CheckTreeLogic::Item a = parent; a != CheckTreeLogic::kNoItem; a = logic_.parent(a)) refresh(a);
}

void CXHtmlTree::deleteAllItems() {
    auto notify = std::move(logic_.onCheckChanged);
    logic_.clear();
    logic_.onCheckChanged = std::move(notify);
    items_.clear();
    clear();
}

void CXHtmlTree::refresh(CheckTreeLogic::Item id) {
    QTreeWidgetItem* item = itemOf(id);
    if (!item) return;
    if (!logic_.checkBoxes) {
        item->setData(0, Qt::CheckStateRole, QVariant());
        return;
    }
    int image = logic_.stateImage(id);
    Qt::CheckState state = (image & 3) == CheckTreeLogic::kChecked  ? Qt::Checked
                           : (image & 3) == CheckTreeLogic::kPartly ? Qt::PartiallyChecked
                                                                    : Qt::Unchecked;
    if (item->data(0, Qt::CheckStateRole) != QVariant(static_cast<int>(state)))
        item->setData(0, Qt::CheckStateRole, static_cast<int>(state));
}

void CXHtmlTree::refreshAround(CheckTreeLogic::Item id) {
    std::vector<CheckTreeLogic::Item> pending{id};
    while (!pending.empty()) {
        CheckTreeLogic::Item i = pending.back();
        pending.pop_back();
        refresh(i);
        for (CheckTreeLogic::Item c : logic_.children(i)) pending.push_back(c);
    }
    for (CheckTreeLogic::Item a = logic_.parent(id); a != CheckTreeLogic::kNoItem; a = logic_.parent(a)) refresh(a);
}

void CXHtmlTree::setCheck(QTreeWidgetItem* item, bool flag) {
    CheckTreeLogic::Item id = idOf(item);
    if (!logic_.exists(id)) return;
    logic_.setCheck(id, flag);
    refreshAround(id);
}

bool CXHtmlTree::getCheck(QTreeWidgetItem* item) const {
    CheckTreeLogic::Item id = idOf(item);
    return logic_.exists(id) && logic_.getCheck(id);
}

void CXHtmlTree::toggleCheck(QTreeWidgetItem* item) {
    CheckTreeLogic::Item id = idOf(item);
    if (!logic_.exists(id)) return;
    logic_.toggle(id);
    refreshAround(id);
}

void CXHtmlTree::setItemDisabled(QTreeWidgetItem* item, bool disabled) {
    CheckTreeLogic::Item id = idOf(item);
    if (!logic_.exists(id)) return;
    logic_.setDisabled(id, disabled);
    item->setDisabled(disabled);
    refreshAround(id);
}

int CXHtmlTree::stateImage(QTreeWidgetItem* item) const {
    CheckTreeLogic::Item id = idOf(item);
    return logic_.exists(id) ? logic_.stateImage(id) : 0;
}

void CXHtmlTree::expandAllBelow(QTreeWidgetItem* item) {
    if (!item) return;
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i) expandAllBelow(item->child(i));
}

QRect CXHtmlTree::checkBoxRect(QTreeWidgetItem* item) const {
    if (!item) return {};
    QModelIndex index = indexFromItem(item);
    QStyleOptionViewItem opt;
    opt.initFrom(this);
    opt.rect = visualRect(index);
    opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                   QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
    opt.showDecorationSelected = true;
    opt.text = item->text(0);
    opt.icon = item->icon(0);
    opt.index = index;
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

void CXHtmlTree::mousePressEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    CheckTreeLogic::Item id = idOf(item);
    if (item && logic_.checkBoxes && checkBoxRect(item).contains(event->position().toPoint())) {
        // A click on the check box: toggle it (disabled items and read-only
        // trees ignore it) and make the item current.
        if (event->button() == Qt::LeftButton) {
            toggleCheck(item);
            if (item->flags() & Qt::ItemIsSelectable) setCurrentItem(item);
        }
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (item && logic_.exists(id) && (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)) {
        if (item->flags() & Qt::ItemIsSelectable) setCurrentItem(item);
        if (event->button() == Qt::LeftButton && visualItemRect(item).contains(event->position().toPoint()))
            emit labelClicked(item);
    }
}

QTreeWidgetItem* CXHtmlTree::nextWithCheckBox(QTreeWidgetItem* from, bool down) const {
    QTreeWidgetItem* i = from;
    while (true) {
        i = down ? itemBelow(i) : itemAbove(i);
        if (!i || (i->flags() & Qt::ItemIsSelectable)) return i;
    }
}

void CXHtmlTree::keyPressEvent(QKeyEvent* event) {
    QTreeWidgetItem* current = currentItem();
    bool keypad = event->modifiers() & Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Space:
        if (current && !logic_.readOnly) toggleCheck(current);
        event->accept();
        return;
    case Qt::Key_Down:
    case Qt::Key_Up:
        if (current) {
            if (QTreeWidgetItem* next = nextWithCheckBox(current, event->key() == Qt::Key_Down)) {
                setCurrentItem(next);
                scrollToItem(next);
            }
            event->accept();
            return;
        }
        break;
    case Qt::Key_Asterisk:
        if (keypad && current) {
            expandAllBelow(current);
            scrollToItem(current);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Plus:
        if (keypad && current) {
            current->setExpanded(true);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Minus:
        if (keypad && current) {
            current->setExpanded(false);
            event->accept();
            return;
        }
        break;
    default: break;
    }
    QTreeWidget::keyPressEvent(event);
}

}  // namespace ondrel::ui
