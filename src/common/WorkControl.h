#pragma once
// Stop and pause flags of one long-running job. The worker calls poll() at every
// chunk, record or cluster; Stop keeps what was found so far, Pause blocks the
// worker inside poll() until Resume (or Stop).
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace ondrel {

class WorkControl {
public:
    void requestStop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
    }
    void pause() { paused_ = true; }
    void resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        wake_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        stop_ = false;
        paused_ = false;
    }

    bool stopRequested() const { return stop_; }
    bool paused() const { return paused_; }

    // Blocks while paused; returns true when the work must end.
    bool poll() {
        if (paused_) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !paused_ || stop_; });
        }
        return stop_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace ondrel
