#pragma once
// A file allocation table read through a cache of 64 KiB pages: chains are
// followed with one read per page instead of one per cluster, and memory stays
// bounded whatever the table's size. FAT16, FAT32 and exFAT share it.
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace ondrel {

class ClusterTable {
public:
    explicit ClusterTable(const ByteSource& reader) : reader_(reader) {}

    // Where the table starts (reader-relative bytes) and how wide its entries
    // are (2 or 4 bytes); forgets what was cached.
    void setLayout(std::int64_t offset, unsigned entryBytes);
    // The raw entry of cluster c (a part of the table the image does not hold reads as 0).
    std::uint32_t entry(std::uint32_t c);
    void clear() { pages_.clear(); }

private:
    const ByteSource& reader_;
    std::int64_t offset_ = 0;
    unsigned entryBytes_ = 4;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> pages_;
};

}  // namespace ondrel
