// An XFS log held in memory: its records and transactions walked, and each
// inode and buffer copy taken on as the advanced scan takes it (the inode
// decoded, a folder's names read). The first byte picks the volume's version
// (v5 with 4 KiB blocks, or v4 with 1 KiB); the volume's UUID is the one the
// first record header states, so the fuzzer need not find it.
#include "fs/xfs/XfsDirectory.h"
#include "fs/xfs/XfsInode.h"
#include "fs/xfs/XfsLog.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + 512) return 0;
    const std::uint8_t* log = data + 1;
    const std::size_t logBytes = size - 1;
    ondrel::XfsSuperblock sb;
    const bool v5 = (data[0] & 1) == 0;
    sb.version = v5 ? 5 : 4;
    sb.blockSize = v5 ? 4096 : 1024;
    sb.blockLog = v5 ? 12 : 10;
    sb.inodeSize = v5 ? 512 : 256;
    sb.sectorSize = 512;
    sb.incompat = v5 ? 0x1 | 0x8 | 0x20 : 0;
    sb.features2 = v5 ? 0 : 0x200;
    sb.agBlocks = 16384;
    sb.agBlockLog = 14;
    sb.agCount = 4;
    sb.dataBlocks = 65536;
    std::memcpy(sb.uuid, log + 304, 16);
    ondrel::XfsLogSummary summary;
    std::string message;
    std::vector<std::uint8_t> raw;
    auto onInode = [&](const ondrel::XfsLogInode& c) {
        raw.assign(sb.inodeSize, 0);
        std::memcpy(raw.data(), c.core.data(), std::min(raw.size(), c.core.size()));
        if (c.core.size() < raw.size() && !c.dataFork.empty())
            std::memcpy(raw.data() + c.core.size(), c.dataFork.data(), std::min(raw.size() - c.core.size(), c.dataFork.size()));
        ondrel::XfsInode n;
        std::string why;
        if (!ondrel::decodeXfsInode(raw, sb, c.number, n, why) || !n.isDirectory() || n.format != ondrel::XfsFork::Local) return;
        std::vector<ondrel::XfsDirEntry> entries;
        std::uint64_t parent = 0;
        const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n.size, n.dataFork.size()));
        ondrel::xfsShortFormEntries(ondrel::Bytes(n.dataFork).first(used), sb.hasFtype(), entries, parent, why);
    };
    std::vector<std::uint8_t> block;
    auto onBuffer = [&](const ondrel::XfsLogBuffer& b) {
        if (b.length != sb.dirBlockSize()) return;
        block.assign(b.length, 0);
        for (const auto& [offset, part] : b.regions)
            if (!part.empty()) std::memcpy(block.data() + offset, part.data(), part.size());
        std::vector<ondrel::XfsDirEntry> entries;
        bool crcOk = true;
        std::string why;
        ondrel::xfsDataBlockEntries(block, sb, entries, crcOk, why);
    };
    ondrel::readXfsLog(
        sb, logBytes,
        [&](std::uint64_t at, std::uint8_t* to, std::size_t n) {
            if (at > logBytes || n > logBytes - at) return false;
            std::memcpy(to, log + at, n);
            return true;
        },
        onInode, onBuffer, [] { return false; }, summary, message);
    return 0;
}
