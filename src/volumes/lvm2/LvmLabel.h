#pragma once
// An LVM2 physical volume's own records: the label ("LABELONE", in one of
// the first four sectors), the PV header it points to (the PV's UUID, size,
// data and metadata areas) and each metadata area's header with the place of
// the metadata text in its ring buffer. Every record's CRC is checked.
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

// LVM's CRC-32: the common polynomial, its own seed, no final inversion.
std::uint32_t lvmCrc(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0xF597A6CF);

struct LvmArea {
    std::uint64_t offset = 0, size = 0;  // bytes of the PV
};

struct LvmPhysicalVolumeLabel {
    std::int64_t labelSector = 0;
    std::string uuid;  // 32 characters, without the dashes the metadata text puts in
    std::uint64_t deviceSize = 0;
    std::vector<LvmArea> dataAreas, metadataAreas;
};

// The label and PV header of source; false with the reason when there is
// none or they are damaged.
bool readPhysicalVolumeLabel(const ByteSource& source, LvmPhysicalVolumeLabel& out, std::string& message);

// One copy of the metadata text a metadata area holds.
struct LvmMetadataText {
    std::uint64_t offset = 0;  // in the area, from its start
    std::string text;
    bool checksumMatches = false;
};

// The current metadata text of a metadata area (the first location its
// header lists), its ring buffer read with the wrap-around past its end.
bool readCurrentMetadata(const ByteSource& source, const LvmArea& area, LvmMetadataText& out, std::string& message);

// Every copy of the metadata text the ring buffer still holds, current and
// earlier ones (LVM writes each new copy after the last, 512-byte aligned,
// and leaves the old ones until the ring wraps over them). A copy overwritten
// in part does not end where it should and is left out.
std::vector<LvmMetadataText> readMetadataCopies(const ByteSource& source, const LvmArea& area);

}  // namespace ondrel
