// The registry's entry for XFS.
#include "fs/FileSystemEntry.h"
#include "fs/xfs/XfsAdapter.h"
#include "fs/xfs/XfsSuperblock.h"

namespace ondrel {

const FileSystemEntry& xfsFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Xfs,
        .listName = "XFS",
        .treatAsItem = "XFS",
        .treatAsName = "XFS",
        .cliName = "xfs",
        .aliases = {},
        .probes = {xfsProbe()},
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<XfsAdapter>(reader, volume);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced},
        .formattedFlag = false,
        .announcesSavedFile = true,
        .selectedStatus = "XFS partition selected....",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
