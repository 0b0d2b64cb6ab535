#include "fs/hfsplus/HfsStructures.h"

namespace ondrel {

HfsFork decodeFork(Bytes b, std::size_t off) {
    HfsFork f;
    f.logicalSize = be64(b, off);
    f.totalBlocks = be32(b, off + 12);
    for (std::size_t i = 0; i < 8; ++i) {
        f.extents[i].start = be32(b, off + 16 + i * 8);
        f.extents[i].count = be32(b, off + 20 + i * 8);
    }
    return f;
}

bool HfsVolumeHeader::valid() const {
    bool signatureOk = (signature == 0x482B && version == 4) || (signature == 0x4858 && version == 5);
    bool blockOk = blockSize >= 512 && blockSize <= (1u << 20) && (blockSize & (blockSize - 1)) == 0;
    return signatureOk && blockOk && totalBlocks > 0;
}

HfsVolumeHeader decodeVolumeHeader(Bytes b) {
    HfsVolumeHeader h;
    h.signature = be16(b, 0);
    h.version = be16(b, 2);
    h.blockSize = be32(b, 0x28);
    h.totalBlocks = be32(b, 0x2C);
    h.allocationFile = decodeFork(b, 0x70);
    h.extentsFile = decodeFork(b, 0xC0);
    h.catalogFile = decodeFork(b, 0x110);
    h.attributesFile = decodeFork(b, 0x160);
    return h;
}

HfsNodeDescriptor decodeNodeDescriptor(Bytes node) {
    HfsNodeDescriptor d;
    d.forward = be32(node, 0);
    d.backward = be32(node, 4);
    d.kind = static_cast<std::int8_t>(le8(node, 8));
    d.height = le8(node, 9);
    d.records = be16(node, 10);
    return d;
}

HfsHeaderRecord decodeHeaderRecord(Bytes node) {
    HfsHeaderRecord h;
    h.depth = be16(node, 14);
    h.root = be32(node, 16);
    h.leafRecords = be32(node, 20);
    h.firstLeaf = be32(node, 24);
    h.lastLeaf = be32(node, 28);
    h.nodeSize = be16(node, 32);
    h.maxKeyLength = be16(node, 34);
    h.totalNodes = be32(node, 36);
    h.freeNodes = be32(node, 40);
    h.keyCompareType = le8(node, 51);
    return h;
}

bool validNodeSize(std::uint32_t size) { return size >= 512 && size <= 32768 && (size & (size - 1)) == 0; }

std::vector<std::uint16_t> recordOffsets(Bytes node, std::uint16_t count) {
    std::vector<std::uint16_t> out;
    if (node.size() < 16) return out;
    const std::size_t n = std::min<std::size_t>(count, (node.size() - 14) / 2);
    out.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::uint16_t at = be16(node, node.size() - 2 * (k + 1));
        // Records lie in order between the descriptor and the offsets at the end;
        // a damaged count ends where the offsets stop making sense.
        if (at < 14 || at >= node.size() - 2 * (k + 1) || (!out.empty() && at <= out.back())) break;
        out.push_back(at);
    }
    return out;
}

bool isHfsPlusHeader(Bytes s, std::int64_t& sizeBytes) {
    // HFS+ ("H+", version 4) or HFSX ("HX", version 5).
    bool hfsPlus = le8(s, 0) == 'H' && le8(s, 1) == '+' && le8(s, 2) == 0;
    bool hfsx = le8(s, 0) == 'H' && le8(s, 1) == 'X' && be16(s, 2) == 5;
    if (!hfsPlus && !hfsx) return false;
    sizeBytes = static_cast<std::int64_t>(static_cast<std::uint64_t>(be32(s, 0x28)) * be32(s, 0x2C));
    return true;
}

FileSystemProbe hfsPlusProbe() {
    FileSystemProbe p;
    p.name = "HFS+";
    p.at = 1024;
    p.test = [](Bytes s, bool, std::int64_t& size) { return isHfsPlusHeader(s, size); };
    p.largestMegabytes = 0x1400000;  // 20 TiB: a larger claim is a chance match
    p.leadBytes = {'H'};
    return p;
}

}  // namespace ondrel
