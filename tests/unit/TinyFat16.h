#pragma once
// A small FAT16 volume built byte by byte, for directory cases the real tools
// cannot be made to write (long names, deleted entries, looping chains,
// hostile names).
#include "unit/BootSectors.h"

#include <cstring>
#include <string>

namespace ondrel::test {

// 8400 sectors, one sector per cluster, 4 reserved, two FATs of 33 sectors,
// 512 root entries: the data area (cluster 2) starts at sector 102.
class TinyFat16 {
public:
    TinyFat16() : d(8400 * 512, 0) {
        fatBoot(d, 0, "MSWIN4.1", 8400, 1, 33, 0);
        setFat(0, 0xFFF8);
        setFat(1, 0xFFFF);
    }
    static constexpr std::size_t kRoot = (4 + 66) * 512;
    static constexpr std::size_t kData = 102 * 512;
    static std::size_t cluster(std::uint32_t c) { return kData + (c - 2) * 512; }

    void setFat(std::uint32_t c, std::uint16_t v) {
        putLe(d, 4 * 512 + c * 2, v, 2);
        putLe(d, (4 + 33) * 512 + c * 2, v, 2);
    }
    // A short entry at a byte offset; returns the offset of the next slot.
    std::size_t entry(std::size_t at, const std::string& name11, std::uint8_t attr, std::uint16_t cluster,
                      std::uint32_t size) {
        std::memcpy(d.data() + at, name11.data(), 11);
        d[at + 11] = attr;
        putLe(d, at + 14, (12 << 11) | (5 << 5), 2);       // 12:05
        putLe(d, at + 16, (44 << 9) | (3 << 5) | 5, 2);    // 2024-03-05
        putLe(d, at + 18, (44 << 9) | (3 << 5) | 6, 2);
        putLe(d, at + 22, (13 << 11) | (5 << 5), 2);       // 13:05
        putLe(d, at + 24, (44 << 9) | (3 << 5) | 7, 2);
        putLe(d, at + 26, cluster, 2);
        putLe(d, at + 28, size, 4);
        return at + 32;
    }
    // Long-name entries for name, then the short entry; deleted marks them all.
    std::size_t longEntry(std::size_t at, const std::u16string& name, const std::string& name11, std::uint8_t attr,
                          std::uint16_t cluster, std::uint32_t size, bool deleted = false) {
        std::uint8_t sum = 0;
        for (char c : name11) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(c));
        std::size_t parts = (name.size() + 12) / 13;
        for (std::size_t k = parts; k >= 1; --k) {
            std::uint8_t* s = d.data() + at;
            s[0] = deleted ? 0xE5 : static_cast<std::uint8_t>(k | (k == parts ? 0x40 : 0));
            s[11] = 0x0F;
            s[13] = sum;
            static const int pos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
            for (int i = 0; i < 13; ++i) {
                std::size_t ci = (k - 1) * 13 + static_cast<std::size_t>(i);
                std::uint16_t ch = ci < name.size() ? name[ci] : (ci == name.size() ? 0 : 0xFFFF);
                s[pos[i]] = static_cast<std::uint8_t>(ch);
                s[pos[i] + 1] = static_cast<std::uint8_t>(ch >> 8);
            }
            at += 32;
        }
        std::size_t next = entry(at, name11, attr, cluster, size);
        if (deleted) d[at] = 0xE5;
        return next;
    }
    // A directory cluster with its "." and ".." entries.
    std::size_t directory(std::uint32_t c, std::uint32_t parent) {
        std::size_t at = cluster(c);
        at = entry(at, ".          ", 0x10, static_cast<std::uint16_t>(c), 0);
        return entry(at, "..         ", 0x10, static_cast<std::uint16_t>(parent), 0);
    }

    // One cluster of file data, the end of its chain marked.
    void file(std::uint16_t c, const std::string& text) {
        std::memcpy(d.data() + cluster(c), text.data(), text.size());
        setFat(c, 0xFFFF);
    }

    ByteVector d;
};

}  // namespace ondrel::test
