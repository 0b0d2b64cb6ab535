// The registry's entry for NTFS.
#include "fs/FileSystemEntry.h"
#include "fs/ntfs/NtfsAdapter.h"
#include "fs/ntfs/NtfsBootSector.h"

namespace ondrel {

const FileSystemEntry& ntfsFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Ntfs,
        .listName = "NTFS",
        .treatAsItem = "NTFS",
        .treatAsName = "ntfs",
        .cliName = "ntfs",
        .aliases = {},
        .probes = {ntfsProbe()},
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<NtfsAdapter>(reader, volume);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced, RecoveryMode::Deep},
        .formattedFlag = false,
        .selectedStatus = "ntfs partition selected....",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
