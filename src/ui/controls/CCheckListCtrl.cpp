#include "ui/controls/CCheckListCtrl.h"

#include <QHeaderView>

#include <vector>

namespace ondrel::ui {

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTableWidget(parent), head_(new CCheckHeadCtrl(this)) {
    setHorizontalHeader(head_);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    connect(head_, &CCheckHeadCtrl::checkClicked, this, &CCheckListCtrl::clickHeader);
    connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (programmatic_ > 0 || !initialised_ || item->column() != 0) return;
        emit rowCheckChanged(item->row(), item->checkState() == Qt::Checked);
        rowsChanged();
    });
}

void CCheckListCtrl::initialise() {
    if (initialised_) return;
    initialised_ = true;
    head_->setChecked(logic_.headerImage() == 2);
}

int CCheckListCtrl::appendRow(const QStringList& texts, const QVariant& data, bool checked, const QIcon& icon) {
    ++programmatic_;
    int row = rowCount();
    insertRow(row);
    for (int c = 0; c < texts.size() && c < columnCount(); ++c) {
        auto* cell = new QTableWidgetItem(texts[c]);
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (c == 0) {
            cell->setFlags(cell->flags() | Qt::ItemIsUserCheckable);
            cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
            cell->setData(Qt::UserRole, data);
            if (!icon.isNull()) cell->setIcon(icon);
        }
        setItem(row, c, cell);
    }
    --programmatic_;
    return row;
}

void CCheckListCtrl::clearRows() {
    ++programmatic_;
    setRowCount(0);
    --programmatic_;
    rowsChanged();
}

bool CCheckListCtrl::rowChecked(int row) const {
    auto* cell = item(row, 0);
    return cell && cell->checkState() == Qt::Checked;
}

void CCheckListCtrl::setRowChecked(int row, bool checked) {
    auto* cell = item(row, 0);
    if (!cell) return;
    ++programmatic_;
    cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    --programmatic_;
}

void CCheckListCtrl::clickHeader() {
    std::vector<bool> rows(static_cast<std::size_t>(rowCount()));
    for (int r = 0; r < rowCount(); ++r) rows[static_cast<std::size_t>(r)] = rowChecked(r);
    logic_.clickHeader(rows);
    ++programmatic_;
    for (int r = 0; r < rowCount(); ++r) setRowChecked(r, rows[static_cast<std::size_t>(r)]);
    --programmatic_;
    head_->setChecked(logic_.headerImage() == 2);
}

void CCheckListCtrl::rowsChanged() {
    if (!initialised_) return;
    std::vector<bool> rows(static_cast<std::size_t>(rowCount()));
    for (int r = 0; r < rowCount(); ++r) rows[static_cast<std::size_t>(r)] = rowChecked(r);
    logic_.rowsChanged(rows);
    head_->setChecked(logic_.headerImage() == 2);
}

}  // namespace ondrel::ui
