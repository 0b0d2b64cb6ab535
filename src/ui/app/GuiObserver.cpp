#include "ui/app/GuiObserver.h"

#include "ui/app/LongProgressBar.h"
#include "ui/app/Prompter.h"

#include <QLabel>

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace ondrel::ui {

struct GuiObserver::State {
    std::mutex mutex;
    std::condition_variable answered;
    bool closed = false;
    std::uint64_t nextCall = 0;
    std::uint64_t lastAnswered = 0;
    std::string status, detail;
    bool statusPending = false, detailPending = false, positionPending = false;
    qint64 position = 0;
};

GuiObserver::GuiObserver(QObject* target) : target_(target), state_(std::make_shared<State>()) {}

GuiObserver::~GuiObserver() { close(); }

bool GuiObserver::onGuiThread() const { return target_ && QThread::currentThread() == target_->thread(); }

void GuiObserver::close() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
    }
    state_->answered.notify_all();
}

void GuiObserver::post(std::function<void()> fn) {
    if (onGuiThread()) {
        fn();
        return;
    }
    if (!target_) return;
    auto state = state_;
    QMetaObject::invokeMethod(
        target_.data(),
        [state, fn = std::move(fn)] {
            {
                std::lock_guard lock(state->mutex);
                if (state->closed) return;
            }
            fn();
        },
        Qt::QueuedConnection);
}

bool GuiObserver::call(std::function<bool()> fn) {
    if (onGuiThread()) return fn();
    if (!target_) return false;
    auto state = state_;
    auto result = std::make_shared<bool>(false);
    std::uint64_t id;
    {
        std::lock_guard lock(state->mutex);
        if (state->closed) return false;
        id = ++state->nextCall;
    }
    QMetaObject::invokeMethod(
        target_.data(),
        [state, result, id, fn = std::move(fn)] {
            bool closed;
            {
                std::lock_guard lock(state->mutex);
                closed = state->closed;
            }
            bool answer = closed ? false : fn();
            {
                std::lock_guard lock(state->mutex);
                *result = answer;
                state->lastAnswered = id;
            }
            state->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(state->mutex);
    state->answered.wait(lock, [&] { return state->closed || state->lastAnswered >= id; });
    return state->lastAnswered >= id && *result;
}

template <class T, class Deliver>
void GuiObserver::deliverLatest(T State::*latest, bool State::*pending, T value, Deliver deliver) {
    {
        std::lock_guard lock(state_->mutex);
        state_.get()->*latest = std::move(value);
        if (state_.get()->*pending) return;
        state_.get()->*pending = true;
    }
    auto state = state_;
    post([state, latest, pending, deliver] {
        T newest;
        {
            std::lock_guard lock(state->mutex);
            newest = std::move(state.get()->*latest);
            state.get()->*pending = false;
        }
        deliver(newest);
    });
}

// Reports may come once per record: the worker only stores the newest text
// (no conversion, no event), the GUI thread converts what it shows.
void GuiObserver::status(const std::string& text) {
    if (onStatus)
        deliverLatest(&State::status, &State::statusPending, text,
                      [this](const std::string& t) { onStatus(QString::fromStdString(t)); });
}

void GuiObserver::detail(const std::string& text) {
    if (onDetail)
        deliverLatest(&State::detail, &State::detailPending, text,
                      [this](const std::string& t) { onDetail(QString::fromStdString(t)); });
}

void GuiObserver::progressRange(std::int64_t low, std::int64_t high) {
    if (onRange) post([this, low, high] { onRange(low, high); });
}

void GuiObserver::progressPosition(std::int64_t position) {
    if (onPosition)
        deliverLatest(&State::position, &State::positionPending, static_cast<qint64>(position),
                      [this](const qint64& p) { onPosition(p); });
}

void GuiObserver::showOn(QWidget* page, QLabel* statusLine, LongProgressBar* progress) {
    onStatus = [statusLine](const QString& t) { statusLine->setText(t); };
    onRange = [progress](qint64 low, qint64 high) { progress->setLongRange(low, high); };
    onPosition = [progress](qint64 p) { progress->setLongValue(p); };
    onMessage = [page](const QString& t) { prompter().information(page, t); };
}

void GuiObserver::message(const std::string& text) {
    if (!onMessage) return;
    QString t = QString::fromStdString(text);
    call([this, t] {
        onMessage(t);
        return true;
    });
}

bool GuiObserver::question(const std::string& text) {
    if (!onQuestion) return false;
    QString t = QString::fromStdString(text);
    return call([this, t] { return onQuestion(t); });
}

}  // namespace ondrel::ui
