#pragma once
// One MFT record, fixed up, and a bounds-safe view of its attributes.
#include "common/Endian.h"
#include "common/Utf16.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

enum NtfsAttributeType : std::uint32_t {
    kStandardInformation = 0x10,
    kAttributeList = 0x20,
    kFileName = 0x30,
    kData = 0x80,
    kEndOfAttributes = 0xFFFFFFFF,
};

struct NtfsAttribute {
    std::uint32_t type = 0;
    std::uint32_t offset = 0;  // of the attribute header in the record
    std::uint32_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;
    std::uint16_t flags = 0;
    // resident
    std::uint32_t contentLength = 0;
    std::uint16_t contentOffset = 0;
    // non-resident
    std::int64_t startVcn = 0;
    std::int64_t lastVcn = 0;
    std::uint16_t runListOffset = 0;
    std::uint16_t compressionUnit = 0;
    std::int64_t allocatedSize = 0;
    std::int64_t realSize = 0;
    std::int64_t initializedSize = 0;
};

class NtfsRecord {
public:
    // Copies the record and applies the update-sequence fixups to the copy.
    explicit NtfsRecord(Bytes raw);

    bool isFile() const { return hasText(Bytes(bytes_), 0, "FILE"); }
    // The sweeps accept a sector as a record only when its header is plausible.
    static bool plausibleHeader(Bytes sector);

    std::uint16_t flags() const { return le16(bytes_, 22); }
    bool inUse() const { return flags() & 0x0001; }
    bool isDirectory() const { return flags() & 0x0002; }
    std::uint64_t baseReference() const { return le64(bytes_, 32) & 0xFFFFFFFFFFFFull; }
    std::uint32_t recordNumber() const { return le32(bytes_, 44); }

    // The attributes up to the end marker; a zero length or a header that
    // leaves the record ends the walk.
    std::vector<NtfsAttribute> attributes() const;

    // Content of a resident attribute, or the run list of a non-resident one,
    // cut at the end of the record.
    Bytes content(const NtfsAttribute& a) const;
    Bytes runList(const NtfsAttribute& a) const;

    Bytes bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace ondrel
