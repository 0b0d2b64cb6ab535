// The registry's entry for ext2, ext3 and ext4 ("extX" in the volume list).
// Its volumes are recognised and listed; no parser reads them yet.
#include "fs/FileSystemEntry.h"
#include "volumes/BootRecordTests.h"

namespace ondrel {

const FileSystemEntry& extFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Ext,
        .listName = "extX",
        .treatAsItem = "EXTX",
        .treatAsName = "extX",
        .cliName = "ext",
        .aliases = {"ext2", "ext3", "ext4"},
        .recognises = [](Bytes, Bytes at1024, std::int64_t& size) { return isExtSuperblock(at1024, size); },
        .create = nullptr,
        .modes = {RecoveryMode::Standard},
        .formattedFlag = false,
        .announcesSavedFile = true,
        .selectedStatus = "",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
