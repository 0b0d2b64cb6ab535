// The registry's entries for FAT16 and FAT32.
#include "fs/FileSystemEntry.h"
#include "fs/fat/FatAdapter.h"
#include "fs/fat/FatBootSector.h"

namespace ondrel {

const FileSystemEntry& fat16FileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Fat16,
        .listName = "FAT16",
        .treatAsItem = "FAT16",
        .treatAsName = "fat16",
        .cliName = "fat16",
        .aliases = {"fat"},
        .probes = fat16Probes(),
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<FatAdapter>(reader, volume, false);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced},
        .formattedFlag = true,
        .selectedStatus = "",
        .candidateLabel = "Total fat16 Entries Found:",
    };
    return entry;
}

const FileSystemEntry& fat32FileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::Fat32,
        .listName = "FAT32",
        .treatAsItem = "FAT32",
        .treatAsName = "fat32",
        .cliName = "fat32",
        .aliases = {},
        .probes = fat32Probes(),
        .create = [](const ByteSource& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
            return std::make_unique<FatAdapter>(reader, volume, true);
        },
        .modes = {RecoveryMode::Standard, RecoveryMode::Advanced},
        .formattedFlag = true,
        .selectedStatus = "",
        .candidateLabel = "",
    };
    return entry;
}

}  // namespace ondrel
