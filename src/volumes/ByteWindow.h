#pragma once
// A volume's bytes: an exact start and length over its parent's source. A
// window is itself a source, so windows nest (disk > partition > logical volume
// > file system). Reads past its end give zeros and fail, as reads past a
// disk's end do; the parent is never read outside the window.
#include "diskimage/ByteSource.h"

#include <memory>

namespace ondrel {

class ByteWindow : public ByteSource {
public:
    // The window is clipped to the parent: it never reaches past the parent's end.
    ByteWindow(std::shared_ptr<const ByteSource> parent, std::int64_t start, std::int64_t length);

    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return length_; }
    std::optional<DiskExtent> extentAt(std::int64_t offset) const override;
    int lastErrorCode() const override { return parent_->lastErrorCode(); }

    const ByteSource& parent() const { return *parent_; }
    std::int64_t start() const { return start_; }
    // Whether the window was cut short because its parent ends sooner.
    bool clipped() const { return clipped_; }

private:
    std::shared_ptr<const ByteSource> parent_;
    std::int64_t start_ = 0;
    std::int64_t length_ = 0;
    bool clipped_ = false;
};

// A source that does not own what it reads (a reader the caller keeps alive
// for as long as the source is used).
std::shared_ptr<const ByteSource> borrowSource(const ByteSource& source);

// A window over source from start to its end, or of length bytes when length > 0.
std::shared_ptr<const ByteSource> windowOver(std::shared_ptr<const ByteSource> source, std::int64_t start,
                                             std::int64_t length = 0);

}  // namespace ondrel
