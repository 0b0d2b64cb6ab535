// The registry's entry for HFS+ (and HFSX).
#include "fs/FileSystemEntry.h"
#include "fs/hfsplus/HfsAdapter.h"
#include "fs/hfsplus/HfsStructures.h"

namespace ondrel {

const FileSystemEntry& hfsPlusFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::HfsPlus,
        .listName = "HFS+",
        .treatAsItem = "HFS+",
        .treatAsName = "HFS+",
        .cliName = "hfs+",
        .aliases = {"hfsplus", "hfsx", "hfs"},
        .probes = {hfsPlusProbe()},
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<HfsAdapter>(reader, volume);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Deep},
        .formattedFlag = false,
        .announcesSavedFile = true,
        .selectedStatus = "HFS+ partition selected....",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
