#pragma once
// One worker per page: long work runs here, off the GUI thread. The page learns
// of the end through its observer (queued), and joins the thread before it goes.
#include <atomic>
#include <functional>
#include <thread>

namespace ondrel::ui {

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { join(); }

    // Starts work; false while earlier work still runs.
    bool start(std::function<void()> work) {
        if (running_) return false;
        join();
        running_ = true;
        thread_ = std::thread([this, work = std::move(work)] {
            work();
            running_ = false;
        });
        return true;
    }
    bool running() const { return running_; }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace ondrel::ui
