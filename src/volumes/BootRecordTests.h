#pragma once
// Recognising a file system from one 512-byte sector: the boot sector at the
// volume's start (NTFS, FAT, exFAT) or the sector 1024 bytes into the volume
// (HFS+ volume header, ext superblock). Each test gives the volume's size in bytes.
#include "common/Endian.h"

#include <cstdint>

namespace ondrel {

// NTFS boot sector: jump EB 52, 512 bytes per sector and, unless the caller
// waives it (the GPT scan does), the "NTFS" system id.
bool isNtfsBootSector(Bytes sector, bool requireSystemId, std::int64_t& sizeBytes);

enum class FatType { None, Fat12, Fat16, Fat32 };
// A FAT boot sector with a sane BIOS parameter block and the 55 AA mark,
// whatever its OEM name; the type follows from the cluster count.
FatType fatBootSectorType(Bytes sector, std::int64_t& sizeBytes);

// exFAT boot sector ("EXFAT   " system id).
bool isExfatBootSector(Bytes sector, std::int64_t& sizeBytes);

// HFS+ volume header: the sector 1024 bytes into the volume begins with "H+" 0,
// or "HX" version 5 (HFSX).
bool isHfsPlusHeader(Bytes sectorAt1024, std::int64_t& sizeBytes);

// ext2/3/4 primary superblock: magic EF53 at byte 56 of the sector 1024 bytes
// into the volume, with sane geometry (backup copies do not count).
bool isExtSuperblock(Bytes sectorAt1024, std::int64_t& sizeBytes);

// Megabytes of a byte count, rounding toward zero.
inline std::int64_t bytesToMegabytes(std::int64_t bytes) { return bytes / 1048576; }

}  // namespace ondrel
