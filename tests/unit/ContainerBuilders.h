#pragma once
// Small container images built in memory from a raw disk, for cases the real
// tools do not make (other block sizes, tables elsewhere, damaged headers).
// The fixtures made by qemu-img check the common layouts against a real tool.
#include "unit/TestSupport.h"

#include <string>

namespace ondrel::test {

struct VhdLayout {
    std::uint32_t blockSize = 2 * 1024 * 1024;
    std::uint64_t tableOffset = 1536;
    std::uint32_t extraTableEntries = 0;  // entries beyond the disk, left unallocated
};
// Blocks that are all zeros are left unallocated.
ByteVector buildDynamicVhd(const ByteVector& disk, const VhdLayout& layout = {});

struct VdiLayout {
    std::uint32_t blockSize = 1024 * 1024;
    std::uint32_t mapOffset = 0x200;
    bool reverseBlockOrder = false;  // store blocks in the data area in reverse order
};
ByteVector buildVdi(const ByteVector& disk, const VdiLayout& layout = {});

struct VmdkLayout {
    std::uint64_t grainSize = 128;
    std::uint32_t entriesPerTable = 512;
    std::string descriptor;  // empty: a standard monolithicSparse descriptor
    bool withDescriptor = true;
    bool zeroedGrainMarker = false;  // mark all-zero grains with entry 1 instead of 0
};
ByteVector buildVmdk(const ByteVector& disk, const VmdkLayout& layout = {});

std::string standardVmdkDescriptor(std::uint64_t sectors);

}  // namespace ondrel::test
