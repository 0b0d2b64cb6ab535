#pragma once
// The fixed structures of a VHDX file (little-endian on disk): the two headers,
// the region table, the metadata table and its items, the parent locator and
// the log entry, with the GUIDs that name regions and metadata items.
#include "common/Endian.h"
#include "diskimage/Crc32c.h"
#include "diskimage/Guid.h"

#include <array>
#include <optional>
#include <string>

namespace ondrel {

using VhdxGuid = Guid;

constexpr VhdxGuid vhdxGuid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::uint64_t d) {
    VhdxGuid g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<std::uint8_t>(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<std::uint8_t>(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<std::uint8_t>(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = static_cast<std::uint8_t>(d >> (8 * (7 - i)));
    return g;
}

inline constexpr VhdxGuid kVhdxBatRegion = vhdxGuid(0x2DC27766, 0xF623, 0x4200, 0x9D64115E9BFD4A08);
inline constexpr VhdxGuid kVhdxMetadataRegion = vhdxGuid(0x8B7CA206, 0x4790, 0x4B9A, 0xB8FE575F050F886E);
inline constexpr VhdxGuid kVhdxFileParameters = vhdxGuid(0xCAA16737, 0xFA36, 0x4D43, 0xB3B633F0AA44E76B);
inline constexpr VhdxGuid kVhdxVirtualDiskSize = vhdxGuid(0x2FA54224, 0xCD1B, 0x4876, 0xB2115DBED83BF4B8);
inline constexpr VhdxGuid kVhdxVirtualDiskId = vhdxGuid(0xBECA12AB, 0xB2E6, 0x4523, 0x93EFC309E000C746);
inline constexpr VhdxGuid kVhdxLogicalSectorSize = vhdxGuid(0x8141BF1D, 0xA96F, 0x4709, 0xBA47F233A8FAAB5F);
inline constexpr VhdxGuid kVhdxPhysicalSectorSize = vhdxGuid(0xCDA348C7, 0x445D, 0x4471, 0x9CC9E9885251C556);
inline constexpr VhdxGuid kVhdxParentLocator = vhdxGuid(0xA8D35F2D, 0xB30B, 0x454D, 0xABF7D3D84834AB0C);
inline constexpr VhdxGuid kVhdxParentLocatorType = vhdxGuid(0xB04AEFB7, 0xD19E, 0x4A81, 0xB78925B8E9445913);

inline constexpr std::uint64_t kVhdxMiB = 1 << 20;
inline constexpr std::uint64_t kVhdxHeaderBytes = 4096;
inline constexpr std::uint64_t kVhdxTableBytes = 64 * 1024;  // region table and metadata table
inline constexpr std::uint64_t kVhdxLogSector = 4096;

inline VhdxGuid guidAt(Bytes b, std::size_t off) {
    VhdxGuid g{};
    for (std::size_t i = 0; i < g.size(); ++i) g[i] = le8(b, off + i);
    return g;
}

inline bool isNullGuid(const VhdxGuid& g) {
    for (std::uint8_t v : g)
        if (v != 0) return false;
    return true;
}

// The GUID of a text form, braces optional and case ignored; nullopt when it is not one.
inline std::optional<VhdxGuid> guidFromText(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == '{' || c == '}' || c == '-' || c == ' ') continue;
        digits += c;
    }
    if (digits.size() != 32) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 32; ++i) {
        char c = digits[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return std::nullopt;
        bytes[i / 2] = static_cast<std::uint8_t>(bytes[i / 2] << 4 | v);
    }
    static constexpr int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    VhdxGuid g{};
    for (int i = 0; i < 16; ++i) g[order[i]] = bytes[i];
    return g;
}

// The CRC-32C a structure stores at byte 4, computed with that field as zeros.
inline bool vhdxChecksumMatches(Bytes b) {
    if (b.size() < 8) return false;
    std::uint8_t zero[4] = {0, 0, 0, 0};
    std::uint32_t crc = crc32c(b.data(), 4);
    crc = crc32c(zero, 4, crc);
    crc = crc32c(b.data() + 8, b.size() - 8, crc);
    return crc == le32(b, 4);
}

struct VhdxHeader {
    bool valid = false;  // "head", checksum and version 1
    std::uint64_t sequenceNumber = 0;
    VhdxGuid fileWriteGuid{}, dataWriteGuid{}, logGuid{};
    std::uint16_t logVersion = 0;
    std::uint16_t version = 0;
    std::uint32_t logLength = 0;
    std::uint64_t logOffset = 0;
};

inline VhdxHeader parseVhdxHeader(Bytes b) {
    VhdxHeader h;
    h.sequenceNumber = le64(b, 8);
    h.fileWriteGuid = guidAt(b, 16);
    h.dataWriteGuid = guidAt(b, 32);
    h.logGuid = guidAt(b, 48);
    h.logVersion = le16(b, 64);
    h.version = le16(b, 66);
    h.logLength = le32(b, 68);
    h.logOffset = le64(b, 72);
    h.valid = b.size() >= kVhdxHeaderBytes && hasText(b, 0, "head") && h.version == 1 &&
              vhdxChecksumMatches(b.first(kVhdxHeaderBytes));
    return h;
}

struct VhdxRegion {
    VhdxGuid guid{};
    std::uint64_t fileOffset = 0;
    std::uint32_t length = 0;
    bool required = false;
};

inline VhdxRegion parseVhdxRegion(Bytes b, std::size_t off) {
    return {guidAt(b, off), le64(b, off + 16), le32(b, off + 24), (le32(b, off + 28) & 1) != 0};
}

struct VhdxMetadataEntry {
    VhdxGuid itemId{};
    std::uint32_t offset = 0;  // from the start of the metadata region
    std::uint32_t length = 0;
    bool required = false;
};

inline VhdxMetadataEntry parseVhdxMetadataEntry(Bytes b, std::size_t off) {
    return {guidAt(b, off), le32(b, off + 16), le32(b, off + 20), (le32(b, off + 24) & 4) != 0};
}

struct VhdxLogEntryHeader {
    std::uint32_t entryLength = 0;
    std::uint32_t tail = 0;
    std::uint64_t sequenceNumber = 0;
    std::uint32_t descriptorCount = 0;
    VhdxGuid logGuid{};
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
};

inline VhdxLogEntryHeader parseVhdxLogEntryHeader(Bytes b) {
    return {le32(b, 8), le32(b, 12), le64(b, 16), le32(b, 24), guidAt(b, 32), le64(b, 48), le64(b, 56)};
}

}  // namespace ondrel
