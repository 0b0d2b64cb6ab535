#pragma once
// Runs one file system's scan the same way for every parser: the running flag,
// the scan itself, the top level of the results tree with its placeholders,
// the recycle-bin naming step and the completion message.
#include "fs/FileSystemAdapter.h"
#include "results/ResultsTree.h"

#include <atomic>

namespace ondrel {

inline constexpr const char* kScanDoneText = "Scanning processing done.Select save button to save the data.";

class ScanDriver {
public:
    ScanDriver(FileSystemAdapter& adapter, ScanObserver& observer) : adapter_(adapter), observer_(observer) {}

    // Runs the scan on the calling thread (the wizard calls it on its worker).
    // False when the volume could not be read as its file system.
    bool run(RecoveryMode mode);

    // Stop keeps the results found so far; Pause blocks the worker at its next poll.
    void stop();
    WorkControl& control() { return control_; }
    bool running() const { return running_; }
    // The last scan read past damage: its results are partial.
    bool damaged() const { return damaged_; }
    // Set by Stop and never cleared; saving does not look at it.
    bool stopRequested() const { return stopRequested_; }

    ResultsTree& tree() { return tree_; }
    FileSystemAdapter& adapter() { return adapter_; }

private:
    FileSystemAdapter& adapter_;
    ScanObserver& observer_;
    WorkControl control_;
    ResultsTree tree_;
    std::atomic<bool> running_{false};
    bool damaged_ = false;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace ondrel
