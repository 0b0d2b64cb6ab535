#include "volumes/lvm2/LvmLabel.h"

#include "common/Endian.h"

#include <array>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::size_t kSector = 512;
constexpr std::size_t kMdaHeader = 512;
// A metadata area is a few MiB at most in practice; its text is bounded well below.
constexpr std::uint64_t kMaxMetadataText = 16u << 20;
constexpr std::size_t kMaxAreas = 8;
constexpr char kMdaMagic[] = " LVM2 x[5A%r0N*>";

const std::array<std::uint32_t, 256>& crcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

// The disk_locn list at offset: pairs of offset and size ended by a zero pair.
std::size_t readAreas(Bytes b, std::size_t at, std::vector<LvmArea>& out) {
    for (std::size_t k = 0; k < kMaxAreas && at + 16 <= b.size(); ++k, at += 16) {
        const LvmArea a{le64(b, at), le64(b, at + 8)};
        if (a.offset == 0 && a.size == 0) return at + 16;
        out.push_back(a);
    }
    return at;
}
}  // namespace

std::uint32_t lvmCrc(const std::uint8_t* data, std::size_t length, std::uint32_t crc) {
    const auto& table = crcTable();
    for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

bool readPhysicalVolumeLabel(const ByteSource& source, LvmPhysicalVolumeLabel& out, std::string& message) {
    std::array<std::uint8_t, 4 * kSector> head{};
    if (!source.readAt(0, head.data(), head.size())) {
        message = "The first sectors cannot be read.";
        return false;
    }
    for (std::size_t s = 0; s < 4; ++s) {
        Bytes sector(head.data() + s * kSector, kSector);
        if (!hasText(sector, 0, "LABELONE") || !hasText(sector, 24, "LVM2 001")) continue;
        if (le64(sector, 8) != s) continue;
        if (le32(sector, 16) != lvmCrc(sector.data() + 20, kSector - 20)) {
            message = "The LVM2 label in sector " + std::to_string(s) + " fails its checksum.";
            continue;
        }
        const std::uint32_t headerAt = le32(sector, 20);
        if (headerAt < 32 || headerAt + 40 > kSector) {
            message = "The LVM2 label points outside its sector.";
            return false;
        }
        out = {};
        out.labelSector = static_cast<std::int64_t>(s);
        out.uuid.assign(reinterpret_cast<const char*>(sector.data() + headerAt), 32);
        out.deviceSize = le64(sector, headerAt + 32);
        std::size_t at = readAreas(sector, headerAt + 40, out.dataAreas);
        readAreas(sector, at, out.metadataAreas);
        message.clear();
        return true;
    }
    if (message.empty()) message = "No LVM2 label in the first four sectors.";
    return false;
}

bool readCurrentMetadata(const ByteSource& source, const LvmArea& area, LvmMetadataText& out, std::string& message) {
    std::array<std::uint8_t, kMdaHeader> header{};
    if (area.size <= kMdaHeader || !source.readAt(static_cast<std::int64_t>(area.offset), header.data(), header.size())) {
        message = "The metadata area cannot be read.";
        return false;
    }
    Bytes h(header.data(), header.size());
    if (std::memcmp(header.data() + 4, kMdaMagic, 16) != 0) {
        message = "The metadata area has no LVM2 header.";
        return false;
    }
    if (le32(h, 0) != lvmCrc(header.data() + 4, kMdaHeader - 4)) {
        message = "The metadata area header fails its checksum.";
        return false;
    }
    const std::uint64_t ringSize = area.size - kMdaHeader;
    const std::uint64_t offset = le64(h, 40), size = le64(h, 48);
    const std::uint32_t checksum = le32(h, 56);
    if (offset < kMdaHeader || offset >= area.size || size == 0 || size > std::min(ringSize, kMaxMetadataText)) {
        message = "The metadata area lists no metadata text it can hold.";
        return false;
    }
    // The text may run past the ring's end and go on after the header.
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::uint64_t first = std::min(size, area.size - offset);
    bool ok = source.readAt(static_cast<std::int64_t>(area.offset + offset), text.data(), static_cast<std::size_t>(first));
    if (first < size)
        ok = source.readAt(static_cast<std::int64_t>(area.offset + kMdaHeader), text.data() + first,
                           static_cast<std::size_t>(size - first)) &&
             ok;
    if (!ok) {
        message = "The metadata text cannot be read.";
        return false;
    }
    out.offset = offset;
    out.checksumMatches = lvmCrc(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) == checksum;
    // The stored size counts the text's closing NUL.
    while (!text.empty() && text.back() == '\0') text.pop_back();
    out.text = std::move(text);
    return true;
}

std::vector<LvmMetadataText> readMetadataCopies(const ByteSource& source, const LvmArea& area) {
    std::vector<LvmMetadataText> copies;
    if (area.size <= kMdaHeader || area.size - kMdaHeader > kMaxMetadataText) return copies;
    const std::size_t ring = static_cast<std::size_t>(area.size - kMdaHeader);
    // The ring twice over, so a copy that wraps past the end reads as one.
    std::string bytes(2 * ring, '\0');
    if (!source.readAt(static_cast<std::int64_t>(area.offset + kMdaHeader), bytes.data(), ring)) return copies;
    std::memcpy(bytes.data() + ring, bytes.data(), ring);
    auto nameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '+' || c == '.';
    };
    for (std::size_t at = 0; at < ring; at += kSector) {
        // A copy begins with the group's name, " {" and a line end.
        std::size_t k = at;
        while (k < at + 128 && nameChar(bytes[k])) ++k;
        if (k == at || k == at + 128 || bytes.compare(k, 3, " {\n") != 0) continue;
        const std::size_t end = bytes.find('\0', at);
        if (end == std::string::npos || end - at > ring) continue;
        LvmMetadataText copy;
        copy.offset = kMdaHeader + at;
        copy.text = bytes.substr(at, end - at);
        copies.push_back(std::move(copy));
    }
    return copies;
}

}  // namespace ondrel
