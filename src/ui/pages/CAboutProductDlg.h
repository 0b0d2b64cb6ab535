#pragma once
// The About box: the product's title, links to the maker, OK. It can be dragged
// by any point of its surface.
#include <QDialog>
#include <QPoint>

namespace ondrel::ui {

class CAboutProductDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutProductDlg(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint dragOffset_;
};

}  // namespace ondrel::ui
