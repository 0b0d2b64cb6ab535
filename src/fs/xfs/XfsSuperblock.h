#pragma once
// The XFS superblock (version 4, and version 5 with its metadata checksums):
// the geometry every other structure is found by, and the features that
// change how they are laid out. Big-endian on disk.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <cstdint>
#include <string>

namespace ondrel {

struct XfsSuperblock {
    std::uint32_t blockSize = 0;
    std::uint64_t dataBlocks = 0;
    std::uint64_t rootInode = 0;
    std::uint64_t logStart = 0;  // fs block of an internal log (0: external)
    std::uint32_t logBlocks = 0;
    std::uint32_t agBlocks = 0, agCount = 0;
    std::uint16_t version = 0;  // 4 or 5
    std::uint16_t versionBits = 0;
    std::uint16_t sectorSize = 0, inodeSize = 0, inodesPerBlock = 0;
    std::uint8_t blockLog = 0, inodeLog = 0, inodesPerBlockLog = 0, agBlockLog = 0, dirBlockLog = 0;
    std::uint64_t inodeCount = 0, freeInodes = 0;
    std::uint32_t features2 = 0, compat = 0, roCompat = 0, incompat = 0, logIncompat = 0;
    std::uint8_t uuid[16]{};
    std::string label;
    bool checksumOk = true;  // version 5: the superblock's own CRC

    bool crc() const { return version == 5; }
    bool hasFtype() const { return crc() ? (incompat & 0x1) != 0 : (features2 & 0x200) != 0; }
    bool bigTime() const { return crc() && (incompat & 0x8) != 0; }
    bool nrext64() const { return crc() && (incompat & 0x20) != 0; }
    bool sparseInodes() const { return crc() && (incompat & 0x2) != 0; }
    std::uint32_t dirBlockSize() const { return blockSize << dirBlockLog; }
    std::int64_t volumeBytes() const { return static_cast<std::int64_t>(dataBlocks * blockSize); }
    // The byte of a file-system block number (AG number above agBlockLog bits); -1 when it lies outside.
    std::int64_t blockByte(std::uint64_t fsBlock) const;
    // The byte of an inode number; -1 when it names no place inside the volume.
    std::int64_t inodeByte(std::uint64_t inode) const;
    // The incompatible features this reader does not know, named ("" when none).
    std::string unknownIncompat() const;
};

// Decodes the superblock sector; false with the reason when it is none or its
// geometry cannot be used.
bool decodeXfsSuperblock(Bytes sector, XfsSuperblock& sb, std::string& why);

// XFS metadata checksums: CRC-32C of the structure with its checksum field as
// zero, kept little-endian at crcOffset.
bool xfsChecksumOk(Bytes block, std::size_t crcOffset);

FileSystemProbe xfsProbe();

}  // namespace ondrel
