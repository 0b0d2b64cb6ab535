#pragma once
// The wizard's side of the observer seam: a worker's reports are queued to the
// GUI thread, never applied to widgets from the worker. Status texts and
// progress positions coalesce (a worker may report a million records; the page
// shows the latest), messages and questions wait for the user's answer.
// close() answers every pending and later call at once, so a page can join its
// worker in its destructor without a deadlock.
#include "common/ScanObserver.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QWidget;
#include <memory>

namespace ondrel::ui {

class LongProgressBar;

class GuiObserver : public ScanObserver {
public:
    // target lives on the GUI thread; callbacks run there.
    explicit GuiObserver(QObject* target);
    ~GuiObserver() override;

    std::function<void(const QString&)> onStatus;
    std::function<void(const QString&)> onDetail;
    std::function<void(qint64, qint64)> onRange;
    std::function<void(qint64)> onPosition;
    std::function<void(const QString&)> onMessage;
    std::function<bool(const QString&)> onQuestion;

    void status(const std::string& text) override;
    void detail(const std::string& text) override;
    void progressRange(std::int64_t low, std::int64_t high) override;
    void progressPosition(std::int64_t position) override;
    void message(const std::string& text) override;
    bool question(const std::string& text) override;

    // The usual wiring of a page: status line, progress bar, message boxes.
    void showOn(QWidget* page, QLabel* statusLine, LongProgressBar* progress);

    // Runs fn on the GUI thread, after every report queued before it.
    void post(std::function<void()> fn);
    // Runs fn on the GUI thread and waits for it; false once closed.
    bool call(std::function<bool()> fn);
    void close();

private:
    struct State;
    bool onGuiThread() const;
    // Keeps only the newest value and queues one delivery while none is pending.
    template <class T, class Deliver>
    void deliverLatest(T State::*latest, bool State::*pending, T value, Deliver deliver);

    QPointer<QObject> target_;
    std::shared_ptr<State> state_;
};

}  // namespace ondrel::ui
