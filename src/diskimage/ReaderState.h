#pragma once
// The process-wide reader state: the current reader that every page and parser
// borrows, the disk's sector count, and the user's size corrections.
#include "diskimage/readWriteInterface.h"

#include <cstdint>
#include <memory>

namespace ondrel {

// g_imageKind value for a block-mapped container (dynamic VHD, VDI, VMDK).
inline constexpr std::int32_t kBlockMappedImage = 142;

extern std::unique_ptr<readWriteInterface> g_reader;
extern std::uint64_t g_totalSectors;
extern std::int32_t g_imageKind;

// "Size of HDD" in bytes (0: none) and "MAXIMUM TABLE ENTRIES" (0: none; only
// the low 32 bits count). Readers honour them when they open.
extern std::uint64_t diskSizeOverride;
extern std::uint64_t tableEntriesOverride;

// Clears the overrides and the current reader (tests and new runs start here).
void resetReaderState();

}  // namespace ondrel
