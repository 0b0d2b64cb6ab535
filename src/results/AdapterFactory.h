#pragma once
// Picks the parser for a volume by its file-system name (without regard to case).
#include "diskimage/readWriteInterface.h"
#include "results/FileSystemAdapter.h"
#include "volumes/VolumeRecord.h"

#include <memory>

namespace ondrel {

// Null when no parser reads that file system ("not a valid drive.").
std::unique_ptr<FileSystemAdapter> createAdapter(readWriteInterface& reader, const VolumeRecord& volume);

}  // namespace ondrel
