#include "volumes/lvm2/LvmThinMapping.h"

#include "common/Endian.h"
#include "diskimage/Crc32c.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

namespace ondrel {

namespace {
constexpr std::size_t kBlock = 4096;  // metadata blocks are 4 KiB
constexpr std::uint64_t kMagic = 27022010;
constexpr std::uint32_t kSuperblockXor = 160774, kNodeXor = 121107;
constexpr std::uint32_t kInternal = 1, kLeaf = 2;
constexpr int kMaxDepth = 8;
// More mapped runs than this is no pool a virtual disk holds (64 M entries).
constexpr std::size_t kMaxRuns = std::size_t(1) << 26;

using Block = std::array<std::uint8_t, kBlock>;

// The checksum device-mapper keeps: CRC-32C over all but the field itself,
// without its final inversion, xor a constant per kind of block.
bool checksumOk(const Block& b, std::uint32_t xorWith) {
    return le32(Bytes(b.data(), b.size()), 0) == (~crc32c(b.data() + 4, kBlock - 4) ^ xorWith);
}

class Walk {
public:
    Walk(const ByteSource& source, std::uint64_t blocks) : source_(source), blocks_(blocks) {}

    // Calls visit(key, value) for every leaf entry under root, in key order.
    template <class Visit>
    bool run(std::uint64_t root, std::size_t valueSize, int depth, Visit&& visit) {
        if (depth > kMaxDepth) return fail("the mapping tree is deeper than the format allows");
        if (root >= blocks_ || !visited_.insert(root).second) return fail("a mapping tree node lies outside the metadata or is met twice");
        Block b{};
        if (!source_.readAt(static_cast<std::int64_t>(root * kBlock), b.data(), kBlock)) return fail("a mapping tree node cannot be read");
        if (!checksumOk(b, kNodeXor)) return fail("a mapping tree node fails its checksum");
        Bytes n(b.data(), b.size());
        const std::uint32_t flags = le32(n, 4), count = le32(n, 16), room = le32(n, 20), size = le32(n, 24);
        const bool leaf = (flags & kLeaf) != 0;
        if (le64(n, 8) != root || (leaf == ((flags & kInternal) != 0)) || size != (leaf ? valueSize : 8) || count > room ||
            32 + std::uint64_t(room) * (8 + size) > kBlock)
            return fail("a mapping tree node is not one the format allows");
        std::uint64_t lastKey = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t key = le64(n, 32 + 8 * i);
            if (i > 0 && key <= lastKey) return fail("a mapping tree node's keys are out of order");
            lastKey = key;
            const std::size_t at = 32 + 8 * std::size_t(room) + std::size_t(size) * i;
            if (leaf) {
                if (!visit(key, le64(n, at))) return false;
            } else if (!run(le64(n, at), valueSize, depth + 1, visit)) {
                return false;
            }
        }
        return true;
    }
    std::string message;

private:
    bool fail(const char* why) {
        message = why;
        return false;
    }
    const ByteSource& source_;
    std::uint64_t blocks_;
    std::set<std::uint64_t> visited_;
};
}  // namespace

bool readThinMapping(const ByteSource& metadata, std::uint64_t deviceId, ThinMapping& out, std::string& message) {
    out = {};
    Block sb{};
    if (!metadata.readAt(0, sb.data(), kBlock)) {
        message = "The thin pool's metadata cannot be read.";
        return false;
    }
    Bytes s(sb.data(), sb.size());
    if (le64(s, 32) != kMagic) {
        message = "The thin pool's metadata has no superblock.";
        return false;
    }
    if (!checksumOk(sb, kSuperblockXor)) {
        message = "The thin pool's metadata superblock fails its checksum.";
        return false;
    }
    const std::uint64_t root = le64(s, 320);
    out.blockSectors = le32(s, 336);
    const std::uint64_t blocks = std::min<std::uint64_t>(le64(s, 344), static_cast<std::uint64_t>(metadata.size()) / kBlock);
    // Data blocks are 64 KiB to 1 GiB, a multiple of 64 KiB.
    if (out.blockSectors < 128 || out.blockSectors > (1u << 21) || out.blockSectors % 128 != 0 || le32(s, 340) != kBlock / 512) {
        message = "The thin pool's metadata states no block sizes it can hold.";
        return false;
    }
    Walk walk(metadata, blocks);
    std::uint64_t deviceRoot = 0;
    bool found = false;
    // The top tree: device id -> the root of that device's tree.
    if (!walk.run(root, 8, 0, [&](std::uint64_t key, std::uint64_t value) {
            if (key == deviceId) {
                deviceRoot = value;
                found = true;
            }
            return true;
        })) {
        message = "The thin pool's mapping cannot be read: " + walk.message + ".";
        return false;
    }
    if (!found) {
        message = "The thin pool's metadata holds no thin device " + std::to_string(deviceId) + ".";
        return false;
    }
    // The device's tree: virtual block -> data block << 24 | time.
    if (!walk.run(deviceRoot, 8, 1, [&](std::uint64_t key, std::uint64_t value) {
            const std::uint64_t data = value >> 24;
            if (!out.runs.empty() && out.runs.back().virtualBlock + out.runs.back().count == key &&
                out.runs.back().dataBlock + out.runs.back().count == data) {
                ++out.runs.back().count;
                return true;
            }
            if (out.runs.size() >= kMaxRuns) {
                walk.message = "it maps more runs than a pool holds";
                return false;
            }
            out.runs.push_back({key, data, 1});
            return true;
        })) {
        message = "The mapping of thin device " + std::to_string(deviceId) + " cannot be read: " + walk.message + ".";
        return false;
    }
    return true;
}

ThinVolumeSource::ThinVolumeSource(std::shared_ptr<const ByteSource> data, ThinMapping mapping, std::int64_t size)
    : data_(std::move(data)), mapping_(std::move(mapping)), blockBytes_(static_cast<std::int64_t>(mapping_.blockSectors) * 512),
      size_(size) {
    if (blockBytes_ <= 0) return;
    // Only blocks inside the volume count, and only data blocks whose bytes a
    // 63-bit offset can name (a hostile key or value would overflow).
    const auto inVolume = static_cast<std::uint64_t>((size_ + blockBytes_ - 1) / blockBytes_);
    const auto addressable = static_cast<std::uint64_t>(INT64_MAX / blockBytes_);
    std::vector<ThinRun> kept;
    for (ThinRun r : mapping_.runs) {
        if (r.virtualBlock >= inVolume) break;
        r.count = std::min(r.count, inVolume - r.virtualBlock);
        if (r.dataBlock >= addressable) {
            r.dataBlock = addressable - 1;  // beyond any pool: reads there fail
            r.count = 1;
        }
        r.count = std::min(r.count, addressable - r.dataBlock);
        kept.push_back(r);
    }
    mapping_.runs = std::move(kept);
}

bool ThinVolumeSource::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0 || blockBytes_ <= 0) return false;
    bool ok = true;
    if (offset >= size_) {
        std::memset(out, 0, length);
        return length == 0;
    }
    if (static_cast<std::int64_t>(length) > size_ - offset) {
        std::memset(out + (size_ - offset), 0, length - static_cast<std::size_t>(size_ - offset));
        length = static_cast<std::size_t>(size_ - offset);
        ok = false;
    }
    while (length > 0) {
        const auto block = static_cast<std::uint64_t>(offset / blockBytes_);
        // The run holding block, or the next one after it.
        auto next = std::upper_bound(mapping_.runs.begin(), mapping_.runs.end(), block,
                                     [](std::uint64_t b, const ThinRun& r) { return b < r.virtualBlock; });
        const ThinRun* in = next != mapping_.runs.begin() && block < std::prev(next)->virtualBlock + std::prev(next)->count
                                ? &*std::prev(next)
                                : nullptr;
        std::int64_t stop = in ? static_cast<std::int64_t>(in->virtualBlock + in->count) * blockBytes_
                               : next != mapping_.runs.end() ? static_cast<std::int64_t>(next->virtualBlock) * blockBytes_
                                                             : size_;
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), stop - offset));
        if (in) {
            const std::int64_t at = static_cast<std::int64_t>(in->dataBlock) * blockBytes_ +
                                    (offset - static_cast<std::int64_t>(in->virtualBlock) * blockBytes_);
            ok = data_->readAt(at, out, n) && ok;
        } else {
            std::memset(out, 0, n);
        }
        out += n;
        offset += static_cast<std::int64_t>(n);
        length -= n;
    }
    return ok;
}

}  // namespace ondrel
