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
