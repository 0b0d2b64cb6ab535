#include "ui/controls/CCheckHeadCtrl.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

namespace ondrel::ui {

namespace {
QIcon checkIcon(const QWidget* widget, bool checked) {
    QStyle* style = widget->style();
    int w = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget);
    int h = style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, widget);
    qreal dpr = widget->devicePixelRatioF();
    QPixmap pixmap(static_cast<int>(w * dpr), static_cast<int>(h * dpr));
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QStyleOptionButton opt;
    opt.initFrom(widget);
    opt.rect = QRect(0, 0, w, h);
    opt.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &opt, &painter, widget);
    return QIcon(pixmap);
}
}  // namespace

CCheckHeadCtrl::CCheckHeadCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    connect(this, &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == 0) emit checkClicked();
    });
}

void CCheckHeadCtrl::setChecked(bool checked) {
    checked_ = checked;
    showState();
}

void CCheckHeadCtrl::showState() {
    if (model() && model()->columnCount() > 0)
        model()->setHeaderData(0, Qt::Horizontal, checkIcon(this, checked_), Qt::DecorationRole);
}

}  // namespace ondrel::ui
