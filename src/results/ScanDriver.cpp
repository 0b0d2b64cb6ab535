#include "results/ScanDriver.h"

#include "results/RecycleBinNames.h"

namespace ondrel {

void ScanDriver::stop() {
    stopRequested_ = true;
    control_.requestStop();
    observer_.status("stop button pressed.Please wait for the process to be stopped.");
}

bool ScanDriver::run(RecoveryMode mode) {
    running_ = true;
    std::string failure;
    if (!adapter_.scan(mode, observer_, control_, failure)) {
        if (!failure.empty()) observer_.message(failure);
        running_ = false;
        return false;
    }
    tree_.build(adapter_);
    std::vector<std::string> damage = adapter_.damage();
    damaged_ = !damage.empty();
    // Many notes are one note: the first few, and how many more.
    for (std::size_t i = 0; i < damage.size() && i < 5; ++i) observer_.message(damage[i]);
    if (damage.size() > 5) observer_.message("... and " + std::to_string(damage.size() - 5) + " more places where the volume is damaged.");
    if (adapter_.namesRecycleBin(mode)) {
        nameRecycleBinEntries(adapter_);
        tree_.build(adapter_);  // top-level names may have changed
    }
    observer_.message(kScanDoneText);
    observer_.status(kScanDoneText);
    running_ = false;
    return true;
}

}  // namespace ondrel
