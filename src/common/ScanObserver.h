#pragma once
// How long work reports to whatever front end runs it. The wizard queues each
// call to its GUI thread; the command-line tool writes to the terminal. The core
// never shows anything itself.
#include <cstdint>
#include <string>

namespace ondrel {

class ScanObserver {
public:
    virtual ~ScanObserver() = default;

    // The page's status line.
    virtual void status(const std::string& text) { (void)text; }
    // Range and position of the progress bar.
    virtual void progressRange(std::int64_t low, std::int64_t high) { (void)low; (void)high; }
    virtual void progressPosition(std::int64_t position) { (void)position; }
    // The second status field (the size of the file being saved).
    virtual void detail(const std::string& text) { (void)text; }
    // A notice the user must see (an information box in the wizard).
    virtual void message(const std::string& text) { (void)text; }
    // A Yes/No question; the default answer is No.
    virtual bool question(const std::string& text) {
        (void)text;
        return false;
    }
};

// An observer that discards everything; for callers that need no reports.
inline ScanObserver& silentObserver() {
    static ScanObserver quiet;
    return quiet;
}

}  // namespace ondrel
