#pragma once
// The geometry an ext2/3/4 superblock gives: block and inode sizes, groups,
// descriptor size and the features the reading depends on.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <cstdint>
#include <string>

namespace ondrel {

struct ExtGeometry {
    std::uint32_t blockSize = 1024;
    std::uint64_t blockCount = 0;
    std::uint32_t firstDataBlock = 0;
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t inodeCount = 0;
    std::uint32_t inodeSize = 128;
    std::uint32_t descSize = 32;
    std::uint32_t groupCount = 0;
    std::uint32_t compat = 0;
    std::uint32_t incompat = 0;
    std::uint32_t firstMetaBg = 0;
    std::uint32_t roCompat = 0;
    std::uint32_t reservedGdtBlocks = 0;     // kept for growing the descriptor table
    std::uint32_t backupGroups[2] = {0, 0};  // sparse_super2: the two groups with a superblock copy
    std::uint64_t statedGroupCount = 0;      // as the superblock's block count gives it, unbounded by the volume
    std::int64_t superblockOffset = 1024;  // where the superblock used was found

    bool fileType() const { return incompat & 0x2; }
    bool metaBg() const { return incompat & 0x10; }
    bool is64() const { return incompat & 0x80; }
    bool extents() const { return incompat & 0x40; }
    bool inlineData() const { return incompat & 0x8000; }
    bool dirIndex() const { return compat & 0x20; }
    bool sparseSuper() const { return roCompat & 0x1; }
    bool sparseSuper2() const { return compat & 0x200; }
    // Group descriptor checksums (uninit_bg or metadata_csum): only then do the uninit flags count.
    bool groupChecksums() const { return roCompat & (0x10u | 0x400u); }
    // Whether group holds a copy of the superblock (and, without meta_bg, of the descriptors).
    bool hasSuperblockCopy(std::uint64_t group) const;
    // The blocks at the start of group that the superblock copy, the
    // descriptor table (or its meta_bg block) and its reserved growth take.
    std::uint64_t baseMetadataBlocks(std::uint64_t group) const;
    // Incompatible features this reader does not know, and those it knows
    // but cannot read right (compression, directory data, encrypted names).
    std::uint32_t unknownIncompat() const { return incompat & ~0x3FFFFu; }
    std::uint32_t unreadableIncompat() const { return incompat & (0x1u | 0x1000u | 0x10000u); }
    std::int64_t blockOffset(std::uint64_t block) const { return static_cast<std::int64_t>(block * blockSize); }
};

// Reads and checks a superblock found at offset: magic EF53, a block of 1 to
// 64 KiB, an inode size that is a power of two from 128 up to a block, groups
// that fit the volume (at most volumeLimit bytes). False with the reason otherwise.
bool readExtSuperblock(Bytes sb, std::int64_t offset, std::int64_t volumeLimit, ExtGeometry& out, std::string& reason);

// Recognising an ext2/3/4 volume: the primary superblock (magic EF53 at byte
// 56 of the sector 1024 bytes in, sane geometry; backup copies do not count).
// The test the partition scans and the sweep share. Listed as "extX".
bool isExtSuperblock(Bytes sectorAt1024, std::int64_t& sizeBytes);
FileSystemProbe extProbe();

}  // namespace ondrel
