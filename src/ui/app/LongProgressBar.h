#pragma once
// A progress bar for 64-bit ranges (sectors of a large disk, records of a
// large volume): QProgressBar counts in int, so positions are scaled.
#include <QProgressBar>

namespace ondrel::ui {

class LongProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;

    void setLongRange(qint64 low, qint64 high) {
        low_ = low;
        high_ = high < low ? low : high;
        setRange(0, kSteps);
        setValue(0);
    }
    void setLongValue(qint64 position) {
        qint64 span = high_ - low_;
        qint64 p = position < low_ ? low_ : position > high_ ? high_ : position;
        setValue(span > 0 ? static_cast<int>((p - low_) * kSteps / span) : 0);
    }

private:
    static constexpr int kSteps = 10000;
    qint64 low_ = 0;
    qint64 high_ = 0;
};

}  // namespace ondrel::ui
