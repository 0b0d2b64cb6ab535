#include "ui/app/Screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace ondrel::ui {

void screenshot(QWidget* widget, const QString& name) {
    QString dir = qEnvironmentVariable("ONDREL_SCREENSHOT_DIR");
    if (dir.isEmpty() || !widget) return;
    QDir().mkpath(dir);
    QCoreApplication::processEvents();
    widget->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace ondrel::ui
