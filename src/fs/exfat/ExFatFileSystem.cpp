// The registry's entry for exFAT ("FAT64" in the volume list).
#include "fs/FileSystemEntry.h"
#include "fs/exfat/ExFatAdapter.h"
#include "fs/exfat/ExFatBootSector.h"

namespace ondrel {

const FileSystemEntry& exfatFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::ExFat,
        .listName = "FAT64",
        .treatAsItem = "FAT64",
        .treatAsName = "fat64",
        .cliName = "exfat",
        .aliases = {"exFat"},
        .probes = {exfatProbe()},
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<ExFatAdapter>(reader, volume);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced},
        .formattedFlag = true,
        .announcesSavedFile = true,
        .selectedStatus = "",
        .candidateLabel = "Total fat64 Entries Found:",
    };
    return entry;
}

}  // namespace ondrel
