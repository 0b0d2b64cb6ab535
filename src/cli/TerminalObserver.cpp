#include "cli/TerminalObserver.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace ondrel::cli {

std::atomic<bool> g_interrupted{false};

namespace {
std::atomic<std::int64_t> g_firstSignalNs{0};

std::int64_t monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);  // safe in a signal handler
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void onInterrupt(int) {
    const std::int64_t now = monotonicNs();
    if (!g_interrupted.exchange(true)) {
        g_firstSignalNs.store(now);
        return;
    }
    // The second signal: the user wants out now, not after the stop. One
    // signal sent twice at once (timeout and kill signal the process and its
    // group) is still the first.
    if (now - g_firstSignalNs.load() > 200000000) ::_exit(130);
}

// The work controls of the observers alive; the watcher stops them all.
std::mutex controlsMutex;
std::multiset<WorkControl*>& controls() {
    static std::multiset<WorkControl*> all;
    return all;
}

void watchForInterrupts() {
    while (!g_interrupted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(controlsMutex);
    for (WorkControl* c : controls()) c->requestStop();
}
}  // namespace

void installInterruptHandler() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::thread(watchForInterrupts).detach();
}

TerminalObserver::TerminalObserver(bool verbose, bool progress, WorkControl* control)
    : verbose_(verbose), progress_(progress), control_(nullptr) {
    setControl(control);
}

TerminalObserver::~TerminalObserver() {
    setControl(nullptr);
    if (lineOpen_) std::fputc('\n', stderr);
}

void TerminalObserver::setControl(WorkControl* control) {
    std::lock_guard lock(controlsMutex);
    if (control_) controls().erase(controls().find(control_));
    control_ = control;
    if (control_) {
        controls().insert(control_);
        if (g_interrupted.load()) control_->requestStop();
    }
}

void TerminalObserver::checkInterrupt() {
    if (g_interrupted && control_) control_->requestStop();
}

void TerminalObserver::status(const std::string& text) {
    checkInterrupt();
    if (!verbose_) return;
    if (lineOpen_) {
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void TerminalObserver::progressRange(std::int64_t low, std::int64_t high) {
    low_ = low;
    high_ = high;
    lastPercent_ = -1;
}

void TerminalObserver::progressPosition(std::int64_t position) {
    checkInterrupt();
    if (!progress_ || high_ <= low_) return;
    int percent = static_cast<int>((position - low_) * 100 / (high_ - low_));
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    std::fprintf(stderr, "\r%3d%%", percent);
    std::fflush(stderr);
    lineOpen_ = true;
}

void TerminalObserver::message(const std::string& text) {
    // The wizard's notices of success say nothing a script needs.
    static const char* const quiet[] = {"Scanning processing done.Select save button to save the data.",
                                        "Searching Finished", "work done"};
    for (const char* q : quiet)
        if (text == q && !verbose_) return;
    if (lineOpen_) {
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    std::fprintf(stderr, "ondrel-cli: %s\n", text.c_str());
}

}  // namespace ondrel::cli
