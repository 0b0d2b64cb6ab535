// The registry's entry for exFAT ("FAT64" in the volume list).
#include "fs/FileSystemEntry.h"
#include "fs/exfat/ExFatAdapter.h"
#include "volumes/BootRecordTests.h"

namespace ondrel {

const FileSystemEntry& exfatFileSystem() {
    static const FileSystemEntry entry{
        .kind = FileSystemKind::ExFat,
        .listName = "FAT64",
        .treatAsItem = "FAT64",
        .treatAsName = "fat64",
        .cliName = "exfat",
        .aliases = {"exFat"},
        .recognises = [](Bytes boot, Bytes, std::int64_t& size) { return isExfatBootSector(boot, size); },
        .create = [](readWriteInterface& reader, const VolumeRecord& volume) -> std::unique_ptr<FileSystemAdapter> {
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
