#pragma once
// With ONDREL_SCREENSHOT_DIR set, pages save a PNG of themselves at their key
// moments, so the look of every page can be checked without a person.
#include <QString>

class QWidget;

namespace ondrel::ui {

// Saves widget as <dir>/<name>.png; nothing when the variable is not set.
void screenshot(QWidget* widget, const QString& name);

}  // namespace ondrel::ui
