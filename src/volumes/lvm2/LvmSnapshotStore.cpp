#include "volumes/lvm2/LvmSnapshotStore.h"

#include "common/Endian.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::uint32_t kMagic = 0x70416e53;  // "SnAp"
constexpr std::uint32_t kVersion = 1;
// LVM makes chunks of 4 KiB to 512 KiB; the target takes any power of two.
// An area is one chunk read whole, so its size is bounded.
constexpr std::uint64_t kMaxChunkSectors = std::uint64_t(1) << 14;

bool chunkSizeOk(std::uint64_t sectors) { return sectors >= 1 && sectors <= kMaxChunkSectors && (sectors & (sectors - 1)) == 0; }
}  // namespace

bool readSnapshotExceptions(const ByteSource& store, std::uint64_t statedChunkSectors, std::int64_t snapshotBytes,
                            SnapshotExceptions& out, std::string& message) {
    out = {};
    std::uint8_t header[16];
    if (!store.readAt(0, header, sizeof header)) {
        message = "Its copy-on-write store's header cannot be read.";
        return false;
    }
    const Bytes h{header, sizeof header};
    if (le32(h, 0) == 0) {
        // Made and never activated: nothing was copied, the snapshot is its origin.
        out.chunkSectors = chunkSizeOk(statedChunkSectors) ? statedChunkSectors : 8;
        return true;
    }
    if (le32(h, 0) != kMagic) {
        message = "Its copy-on-write store does not begin with a snapshot header.";
        return false;
    }
    out.used = true;
    out.invalid = le32(h, 4) == 0;
    out.chunkSectors = le32(h, 12);
    if (le32(h, 8) != kVersion || !chunkSizeOk(out.chunkSectors)) {
        message = "Its copy-on-write store states version " + std::to_string(le32(h, 8)) + " and chunks of " +
                  std::to_string(out.chunkSectors) + " sectors, which are not read.";
        return false;
    }
    const std::uint64_t chunkBytes = out.chunkSectors * 512;
    const std::uint64_t originChunks = (static_cast<std::uint64_t>(std::max<std::int64_t>(snapshotBytes, 0)) + chunkBytes - 1) / chunkBytes;
    const std::uint64_t storeChunks = static_cast<std::uint64_t>(std::max<std::int64_t>(store.size(), 0)) / chunkBytes;
    const std::uint64_t perArea = chunkBytes / 16;
    std::vector<std::uint8_t> area(chunkBytes);
    std::uint64_t beyondOrigin = 0, beyondStore = 0;
    bool full = true;
    for (std::uint64_t k = 0; full; ++k) {
        // Area k's table: after the header and k areas of a table chunk and its data chunks.
        const std::uint64_t at = 1 + k * (perArea + 1);
        if (at >= storeChunks) break;  // the store is full: the table ends with it
        if (!store.readAt(static_cast<std::int64_t>(at * chunkBytes), area.data(), area.size())) {
            message = "Its copy-on-write store cannot be read at chunk " + std::to_string(at) + "; the chunks mapped after it are not known.";
            break;
        }
        const Bytes a{area.data(), area.size()};
        for (std::uint64_t i = 0; i < perArea; ++i) {
            const std::uint64_t oldChunk = le64(a, i * 16), newChunk = le64(a, i * 16 + 8);
            if (newChunk == 0) {
                full = false;
                break;
            }
            if (oldChunk >= originChunks) ++beyondOrigin;
            else if (newChunk >= storeChunks) ++beyondStore;
            else out.map.emplace_back(oldChunk, newChunk);
        }
    }
    // The later copy of a chunk met twice stands (stable sort, last kept).
    std::stable_sort(out.map.begin(), out.map.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unique;
    for (std::size_t i = 0; i < out.map.size(); ++i)
        if (i + 1 == out.map.size() || out.map[i + 1].first != out.map[i].first) unique.push_back(out.map[i]);
    out.map = std::move(unique);
    if (beyondOrigin + beyondStore > 0 && message.empty())
        message = "Its copy-on-write store maps " + std::to_string(beyondOrigin + beyondStore) +
                  " chunks beyond its origin or beyond the store; they are left out.";
    return message.empty();
}

SnapshotSource::SnapshotSource(std::shared_ptr<const ByteSource> origin, std::shared_ptr<const ByteSource> store,
                               SnapshotExceptions exceptions, std::int64_t size)
    : origin_(std::move(origin)), store_(std::move(store)), exceptions_(std::move(exceptions)),
      chunkBytes_(static_cast<std::int64_t>(exceptions_.chunkSectors) * 512), size_(size) {}

bool SnapshotSource::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0 || chunkBytes_ <= 0) return false;
    bool ok = true;
    while (length > 0) {
        const auto chunk = static_cast<std::uint64_t>(offset / chunkBytes_);
        const std::int64_t within = offset % chunkBytes_;
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), chunkBytes_ - within));
        auto at = std::lower_bound(exceptions_.map.begin(), exceptions_.map.end(), chunk,
                                   [](const auto& e, std::uint64_t c) { return e.first < c; });
        const ByteSource* from = origin_.get();
        std::int64_t where = offset;
        if (at != exceptions_.map.end() && at->first == chunk) {
            from = store_.get();
            where = static_cast<std::int64_t>(at->second) * chunkBytes_ + within;
        }
        if (offset >= size_ || !from) {
            std::memset(out, 0, n);
            ok = false;
        } else if (!from->readAt(where, out, n)) {
            ok = false;
        }
        out += n;
        offset += static_cast<std::int64_t>(n);
        length -= n;
    }
    return ok;
}

}  // namespace ondrel
