#include "unit/ContainerBuilders.h"

#include <algorithm>
#include <cstring>

namespace ondrel::test {

namespace {
bool allZero(const ByteVector& d, std::size_t from, std::size_t len) {
    for (std::size_t i = from; i < from + len && i < d.size(); ++i)
        if (d[i]) return false;
    return true;
}
std::size_t roundUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }
}  // namespace

ByteVector buildDynamicVhd(const ByteVector& disk, const VhdLayout& layout) {
    std::size_t blocks = (disk.size() + layout.blockSize - 1) / layout.blockSize;
    std::size_t entries = blocks + layout.extraTableEntries;
    std::size_t bitmap = roundUp((layout.blockSize / 512 + 7) / 8, 512);
    ByteVector footer(512, 0);
    std::memcpy(footer.data(), "conectix", 8);
    putBe(footer, 0x08, 2, 4);
    putBe(footer, 0x0C, 0x00010000, 4);
    putBe(footer, 0x10, 512, 8);
    putBe(footer, 0x28, disk.size(), 8);
    putBe(footer, 0x30, disk.size(), 8);
    putBe(footer, 0x38, 1024, 2);
    footer[0x3A] = 16;
    footer[0x3B] = 63;
    putBe(footer, 0x3C, 3, 4);

    std::size_t tableEnd = roundUp(layout.tableOffset + entries * 4, 512);
    ByteVector out(tableEnd, 0);
    std::copy(footer.begin(), footer.end(), out.begin());
    std::memcpy(out.data() + 512, "cxsparse", 8);
    putBe(out, 512 + 0x08, ~0ull, 8);
    putBe(out, 512 + 0x10, layout.tableOffset, 8);
    putBe(out, 512 + 0x18, 0x00010000, 4);
    putBe(out, 512 + 0x1C, entries, 4);
    putBe(out, 512 + 0x20, layout.blockSize, 4);
    for (std::size_t k = 0; k < entries; ++k) putBe(out, layout.tableOffset + k * 4, 0xFFFFFFFF, 4);
    for (std::size_t k = 0; k < blocks; ++k) {
        std::size_t from = k * layout.blockSize;
        if (allZero(disk, from, layout.blockSize)) continue;
        putBe(out, layout.tableOffset + k * 4, out.size() / 512, 4);
        out.insert(out.end(), bitmap, 0xFF);
        std::size_t len = std::min<std::size_t>(layout.blockSize, disk.size() - from);
        out.insert(out.end(), disk.begin() + static_cast<std::ptrdiff_t>(from),
                   disk.begin() + static_cast<std::ptrdiff_t>(from + len));
        out.insert(out.end(), layout.blockSize - len, 0);
    }
    out.insert(out.end(), footer.begin(), footer.end());
    return out;
}

ByteVector buildVdi(const ByteVector& disk, const VdiLayout& layout) {
    std::size_t blocks = (disk.size() + layout.blockSize - 1) / layout.blockSize;
    std::size_t dataOffset = roundUp(layout.mapOffset + blocks * 4, 4096);
    ByteVector out(dataOffset, 0);
    const char* text = "<<< Oracle VM VirtualBox Disk Image >>>\n";
    std::memcpy(out.data(), text, std::strlen(text));
    putLe(out, 0x40, 0xBEDA107F, 4);
    putLe(out, 0x44, 0x00010001, 4);
    putLe(out, 0x48, 0x190, 4);
    putLe(out, 0x4C, 1, 4);
    putLe(out, 0x154, layout.mapOffset, 4);
    putLe(out, 0x158, dataOffset, 4);
    putLe(out, 0x15C, 1024, 4);
    putLe(out, 0x160, 16, 4);
    putLe(out, 0x164, 63, 4);
    putLe(out, 0x168, 512, 4);
    putLe(out, 0x170, disk.size(), 8);
    putLe(out, 0x178, layout.blockSize, 4);
    putLe(out, 0x180, blocks, 4);
    std::vector<std::size_t> used;
    for (std::size_t k = 0; k < blocks; ++k)
        if (!allZero(disk, k * layout.blockSize, layout.blockSize)) used.push_back(k);
    putLe(out, 0x184, used.size(), 4);
    for (std::size_t k = 0; k < blocks; ++k) putLe(out, layout.mapOffset + k * 4, 0xFFFFFFFF, 4);
    std::vector<std::size_t> order = used;
    if (layout.reverseBlockOrder) std::reverse(order.begin(), order.end());
    for (std::size_t index = 0; index < order.size(); ++index) {
        std::size_t k = order[index];
        putLe(out, layout.mapOffset + k * 4, index, 4);
        std::size_t from = k * layout.blockSize;
        std::size_t len = std::min<std::size_t>(layout.blockSize, disk.size() - from);
        out.insert(out.end(), disk.begin() + static_cast<std::ptrdiff_t>(from),
                   disk.begin() + static_cast<std::ptrdiff_t>(from + len));
        out.insert(out.end(), layout.blockSize - len, 0);
    }
    return out;
}

std::string standardVmdkDescriptor(std::uint64_t sectors) {
    return "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\ncreateType=\"monolithicSparse\"\n\n"
           "# Extent description\nRW " +
           std::to_string(sectors) +
           " SPARSE \"test.vmdk\"\n\n# The Disk Data Base\n#DDB\n\nddb.virtualHWVersion = \"4\"\n"
           "ddb.geometry.cylinders = \"1024\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = \"63\"\n"
           "ddb.adapterType = \"ide\"\n";
}

ByteVector buildVmdk(const ByteVector& disk, const VmdkLayout& layout) {
    std::uint64_t capacity = disk.size() / 512;
    std::uint64_t perTable = layout.grainSize * layout.entriesPerTable;
    std::uint64_t tables = (capacity + perTable - 1) / perTable;
    std::string descriptor = layout.descriptor.empty() ? standardVmdkDescriptor(capacity) : layout.descriptor;
    std::uint64_t descSectors = layout.withDescriptor ? (descriptor.size() + 511) / 512 + 1 : 0;
    std::uint64_t gdSector = 1 + descSectors;
    std::uint64_t gdSectors = (tables * 4 + 511) / 512;
    std::uint64_t gtSector = gdSector + gdSectors;
    std::uint64_t gtSectors = (layout.entriesPerTable * 4 + 511) / 512;
    std::uint64_t grainStart = gtSector + tables * gtSectors;

    ByteVector out(grainStart * 512, 0);
    putLe(out, 0x00, 0x564D444B, 4);
    putLe(out, 0x04, 1, 4);
    putLe(out, 0x08, 3, 4);
    putLe(out, 0x0C, capacity, 8);
    putLe(out, 0x14, layout.grainSize, 8);
    putLe(out, 0x1C, layout.withDescriptor ? 1 : 0, 8);
    putLe(out, 0x24, descSectors, 8);
    putLe(out, 0x2C, layout.entriesPerTable, 4);
    putLe(out, 0x30, gdSector, 8);
    putLe(out, 0x38, gdSector, 8);
    putLe(out, 0x40, grainStart, 8);
    if (layout.withDescriptor) std::memcpy(out.data() + 512, descriptor.data(), descriptor.size());
    std::uint64_t grainBytes = layout.grainSize * 512;
    for (std::uint64_t t = 0; t < tables; ++t) {
        std::uint64_t tableSector = gtSector + t * gtSectors;
        putLe(out, gdSector * 512 + t * 4, tableSector, 4);
        for (std::uint64_t g = 0; g < layout.entriesPerTable; ++g) {
            std::uint64_t from = (t * perTable + g * layout.grainSize) * 512;
            if (from >= disk.size()) break;
            if (allZero(disk, from, grainBytes)) {
                if (layout.zeroedGrainMarker) putLe(out, tableSector * 512 + g * 4, 1, 4);
                continue;
            }
            putLe(out, tableSector * 512 + g * 4, out.size() / 512, 4);
            std::size_t len = std::min<std::size_t>(grainBytes, disk.size() - from);
            out.insert(out.end(), disk.begin() + static_cast<std::ptrdiff_t>(from),
                       disk.begin() + static_cast<std::ptrdiff_t>(from + len));
            out.insert(out.end(), grainBytes - len, 0);
        }
    }
    return out;
}

}  // namespace ondrel::test
