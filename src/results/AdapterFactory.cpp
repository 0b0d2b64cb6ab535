#include "results/AdapterFactory.h"

#include "fs/fat/FatAdapter.h"
#include "fs/ntfs/NtfsAdapter.h"

#include <cctype>

namespace ondrel {

std::unique_ptr<FileSystemAdapter> createAdapter(readWriteInterface& reader, const VolumeRecord& volume) {
    std::string fs;
    for (char c : volume.fileSystem) fs += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (fs == "ntfs") return std::make_unique<NtfsAdapter>(reader, volume);
    if (fs == "fat16" || fs == "fat") return std::make_unique<FatAdapter>(reader, volume, false);
    if (fs == "fat32") return std::make_unique<FatAdapter>(reader, volume, true);
    return nullptr;
}

}  // namespace ondrel
