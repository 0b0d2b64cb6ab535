#include "ui/app/GuiObserver.h"

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
    QString status, detail;
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

void GuiObserver::status(const std::string& text) {
    if (!onStatus) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->status = QString::fromStdString(text);
        if (state_->statusPending) return;
        state_->statusPending = true;
    }
    auto state = state_;
    post([this, state] {
        QString text;
        {
            std::lock_guard lock(state->mutex);
            text = state->status;
            state->statusPending = false;
        }
        if (onStatus) onStatus(text);
    });
}

void GuiObserver::detail(const std::string& text) {
    if (!onDetail) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->detail = QString::fromStdString(text);
        if (state_->detailPending) return;
        state_->detailPending = true;
    }
    auto state = state_;
    post([this, state] {
        QString text;
        {
            std::lock_guard lock(state->mutex);
            text = state->detail;
            state->detailPending = false;
        }
        if (onDetail) onDetail(text);
    });
}

void GuiObserver::progressRange(std::int64_t low, std::int64_t high) {
    if (!onRange) return;
    post([this, low, high] { onRange(low, high); });
}

void GuiObserver::progressPosition(std::int64_t position) {
    if (!onPosition) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->position = position;
        if (state_->positionPending) return;
        state_->positionPending = true;
    }
    auto state = state_;
    post([this, state] {
        qint64 position;
        {
            std::lock_guard lock(state->mutex);
            position = state->position;
            state->positionPending = false;
        }
        if (onPosition) onPosition(position);
    });
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
