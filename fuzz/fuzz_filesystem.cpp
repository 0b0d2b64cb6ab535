// One file system of the registry (ONDREL_FUZZ_FILE_SYSTEM, its --fs name),
// in every recovery mode it offers, each entry then read into memory. The
// first byte chooses "Is Drive Formated..?" where the file system has it.
#include "diskimage/MemoryReader.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ondrel::FileSystemEntry* entry = ondrel::findFileSystem(ONDREL_FUZZ_FILE_SYSTEM);
    if (!entry || size < 1) return 0;
    ondrel::MemoryReader reader(data + 1, size - 1);
    (void)ondrel::claimsOnVolume(reader, 0, entry->probes, (data[0] & 2) != 0);
    ondrel::VolumeRecord volume{entry->listName, "", "0", std::to_string(size / 1048576 + 1), 0};
    bool formatted = entry->formattedFlag && (data[0] & 1) != 0;
    for (ondrel::RecoveryMode mode : entry->modes) ondrel::fuzz::scanAndReadAll(reader, volume, mode, formatted);
    return 0;
}
