#pragma once
// An XFS volume held in memory, scanned as the results layer scans it.
#include "diskimage/MemoryReader.h"
#include "fs/xfs/XfsAdapter.h"
#include "results/ScanDriver.h"
#include "unit/TestSupport.h"

#include <memory>
#include <string>

namespace ondrel::test {

struct XfsOpened {
    std::unique_ptr<MemoryReader> reader;
    std::unique_ptr<XfsAdapter> adapter;
    bool ok = false;
    std::string failure;  // the last message of the scan
};

inline std::unique_ptr<XfsOpened> xfsScanned(const ByteVector& disk, RecoveryMode mode = RecoveryMode::Standard) {
    struct FailureCatcher : ScanObserver {
        std::string last;
        void message(const std::string& text) override { last = text; }
    } catcher;
    auto o = std::make_unique<XfsOpened>();
    o->reader = std::make_unique<MemoryReader>(disk);
    o->adapter = std::make_unique<XfsAdapter>(*o->reader, VolumeRecord{"XFS", "", "0", std::to_string((disk.size() >> 20) + 1), 0});
    ScanDriver driver(*o->adapter, catcher);
    o->ok = driver.run(mode);
    o->failure = catcher.last;
    return o;
}

}  // namespace ondrel::test
