#pragma once
// How a file system is recognised where a volume starts. Each file system's
// folder defines its probe (its boot-record or superblock test, the one its
// parser decodes with); volume discovery is handed the probes and never knows
// a file system itself.
#include "common/Endian.h"
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

struct FileSystemProbe {
    std::string name;       // as volumes are listed: "NTFS", "FAT32", "FAT64", "extX", "HFS+", "FAT12"
    std::uint32_t at = 0;   // where the tested sector lies from the volume's start (0 or 1024)
    // Tests the sector; on success sizeBytes is the size the structure states.
    // loose: the GPT scan's weaker test (NTFS without its system id).
    bool (*test)(Bytes sector, bool loose, std::int64_t& sizeBytes) = nullptr;
    // Bytes the volume holds past the size its structure states (NTFS keeps a
    // backup boot sector there).
    std::int64_t trailingBytes = 0;
    // A claim of at least this many megabytes is taken as a chance match (0: no bound).
    std::int64_t largestMegabytes = 0;
    // False for a file system that is recognised but not read (FAT12): the
    // scans say "found unknown..." and list nothing.
    bool listed = true;
    // When several probes pass on one volume the scans list the one with the
    // lowest precedence first (and report the others).
    int precedence = 0;
    // A byte every sector that passes has at leadOffset, one of leadBytes
    // (empty: none is known). The sweep tests every sector of a disk; nearly
    // all fail on this byte without a call to test.
    std::uint16_t leadOffset = 0;
    std::vector<std::uint8_t> leadBytes;
};

// One probe whose test passed.
struct FileSystemClaim {
    const FileSystemProbe* probe = nullptr;
    std::int64_t sizeBytes = 0;
    // The volume's length: the stated size and what follows it.
    std::int64_t volumeBytes() const { return sizeBytes + probe->trailingBytes; }
};

// The probes that pass on the sector at their offset. sectorAt(offset) gives
// the 512 bytes at offset from the volume's start.
template <typename SectorAt>
std::vector<FileSystemClaim> claimsOf(const std::vector<FileSystemProbe>& probes, SectorAt&& sectorAt, bool loose,
                                      std::uint32_t onlyAt) {
    std::vector<FileSystemClaim> out;
    for (const FileSystemProbe& p : probes) {
        if (p.at != onlyAt || !p.test) continue;
        std::int64_t size = 0;
        if (p.test(sectorAt(p.at), loose, size)) out.push_back({&p, size});
    }
    return out;
}

// The claims on a volume of source starting at start, boot sectors and then
// the structures 1024 bytes in.
std::vector<FileSystemClaim> claimsOnVolume(const ByteSource& source, std::int64_t start,
                                            const std::vector<FileSystemProbe>& probes, bool loose = false);

}  // namespace ondrel
