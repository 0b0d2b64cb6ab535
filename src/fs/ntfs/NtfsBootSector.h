#pragma once
// Recognising an NTFS volume by its boot sector: the test the partition scans,
// the sweep and the registry share.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <cstdint>

namespace ondrel {

// NTFS boot sector: jump EB 52, 512 bytes per sector and, unless the caller
// waives it (the GPT scan does), the "NTFS" system id. The size is the total
// sector count's bytes (the backup boot sector after them is not counted).
bool isNtfsBootSector(Bytes sector, bool requireSystemId, std::int64_t& sizeBytes);

// The probe of the registry entry.
FileSystemProbe ntfsProbe();

}  // namespace ondrel
