#include "volumes/ByteWindow.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

ByteWindow::ByteWindow(std::shared_ptr<const ByteSource> parent, std::int64_t start, std::int64_t length)
    : parent_(std::move(parent)) {
    std::int64_t parentBytes = parent_->size();
    start_ = std::clamp<std::int64_t>(start, 0, parentBytes);
    std::int64_t room = parentBytes - start_;
    length_ = std::clamp<std::int64_t>(length, 0, room);
    clipped_ = start != start_ || length != length_;
}

bool ByteWindow::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0 || offset >= length_) {
        std::memset(out, 0, length);
        return length == 0 && offset >= 0;
    }
    auto inside = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), length_ - offset));
    bool ok = parent_->readAt(start_ + offset, out, inside);
    if (inside < length) {
        std::memset(out + inside, 0, length - inside);
        ok = false;
    }
    return ok;
}

std::optional<DiskExtent> ByteWindow::extentAt(std::int64_t offset) const {
    if (offset < 0 || offset >= length_) return DiskExtent{};
    std::optional<DiskExtent> e = parent_->extentAt(start_ + offset);
    if (e) e->length = std::min<std::uint64_t>(e->length, static_cast<std::uint64_t>(length_ - offset));
    return e;
}

std::shared_ptr<const ByteSource> borrowSource(const ByteSource& source) {
    return std::shared_ptr<const ByteSource>(&source, [](const ByteSource*) {});
}

std::shared_ptr<const ByteSource> windowOver(std::shared_ptr<const ByteSource> source, std::int64_t start,
                                             std::int64_t length) {
    std::int64_t total = source->size();
    if (length <= 0) length = std::max<std::int64_t>(total - start, 0);
    return std::make_shared<ByteWindow>(std::move(source), start, length);
}

}  // namespace ondrel
