// The registry's entry for ext2, ext3 and ext4 ("extX" in the volume list).
#include "fs/FileSystemEntry.h"
#include "fs/ext/ExtAdapter.h"
#include "fs/ext/ExtSuperblock.h"

namespace ondrel {

const FileSystemEntry& extFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Ext,
        .listName = "extX",
        .treatAsItem = "EXTX",
        .treatAsName = "extX",
        .cliName = "ext",
        .aliases = {"extx", "ext2", "ext3", "ext4"},
        .probes = {extProbe()},
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<ExtAdapter>(reader, volume);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced},
        .formattedFlag = false,
        .announcesSavedFile = true,
        .selectedStatus = "",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
