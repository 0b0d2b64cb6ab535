#include "fs/ClusterTable.h"

#include "common/Endian.h"

namespace ondrel {

namespace {
constexpr std::uint64_t kPage = 64 * 1024;
constexpr std::size_t kCachedPages = 1024;  // 64 MiB of table at most
}  // namespace

void ClusterTable::setLayout(std::int64_t offset, unsigned entryBytes) {
    offset_ = offset;
    entryBytes_ = entryBytes == 2 ? 2 : 4;
    pages_.clear();
}

std::uint32_t ClusterTable::entry(std::uint32_t c) {
    std::uint64_t byte = static_cast<std::uint64_t>(c) * entryBytes_;
    std::uint64_t page = byte / kPage;
    auto it = pages_.find(page);
    if (it == pages_.end()) {
        if (pages_.size() >= kCachedPages) pages_.clear();
        std::vector<std::uint8_t> data(kPage, 0);
        reader_.readAt(offset_ + static_cast<std::int64_t>(page * kPage), data.data(), static_cast<std::uint32_t>(kPage));
        it = pages_.emplace(page, std::move(data)).first;
    }
    Bytes b(it->second);
    auto at = static_cast<std::size_t>(byte % kPage);
    return entryBytes_ == 2 ? le16(b, at) : le32(b, at);
}

}  // namespace ondrel
