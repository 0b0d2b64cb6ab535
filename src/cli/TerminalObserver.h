#pragma once
// Reports of long work on the terminal: notices on stderr, status lines when
// verbose, a progress line when stderr is a terminal (or always, when asked).
#include "common/ScanObserver.h"
#include "common/WorkControl.h"

#include <atomic>

namespace ondrel::cli {

// Set by SIGINT and SIGTERM. A watcher thread turns it into a stop request on
// every observer's work control at once, so work that polls its flags ends
// promptly with what it found; a second signal ends the process there and then.
extern std::atomic<bool> g_interrupted;
void installInterruptHandler();

class TerminalObserver : public ScanObserver {
public:
    TerminalObserver(bool verbose, bool progress, WorkControl* control = nullptr);
    ~TerminalObserver() override;
    void setControl(WorkControl* control);

    void status(const std::string& text) override;
    void progressRange(std::int64_t low, std::int64_t high) override;
    void progressPosition(std::int64_t position) override;
    void message(const std::string& text) override;

private:
    void checkInterrupt();

    bool verbose_;
    bool progress_;
    WorkControl* control_;
    std::int64_t low_ = 0, high_ = 0;
    int lastPercent_ = -1;
    bool lineOpen_ = false;
};

}  // namespace ondrel::cli
