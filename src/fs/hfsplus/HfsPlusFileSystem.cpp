// The registry's entry for HFS+ (and HFSX). Its volumes are recognised and
// listed; no parser reads them yet.
#include "fs/FileSystemEntry.h"
#include "volumes/BootRecordTests.h"

namespace ondrel {

const FileSystemEntry& hfsPlusFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::HfsPlus,
        .listName = "HFS+",
        .treatAsItem = "HFS+",
        .treatAsName = "HFS+",
        .cliName = "hfsplus",
        .aliases = {"hfsx"},
        .recognises = [](Bytes, Bytes at1024, std::int64_t& size) { return isHfsPlusHeader(at1024, size); },
        .create = nullptr,
        .modes = {RecoveryMode::Standard, RecoveryMode::Deep},
        .formattedFlag = false,
        .announcesSavedFile = true,
        .selectedStatus = "",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
