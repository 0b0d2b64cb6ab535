#pragma once
// The stretches of a source a scan could not read. The scan reads through
// this log, which passes every read on and, when one fails, reads its pieces
// again to find which of them failed (in 4 KiB pieces: finer costs a read per
// sector of a damaged area). The bytes delivered are the same either way.
#include "diskimage/ByteSource.h"

#include <mutex>
#include <vector>

namespace ondrel {

class UnreadableLog : public ByteSource {
public:
    struct Stretch {
        std::int64_t offset = 0, length = 0;
    };
    static constexpr std::size_t kPiece = 4096;

    explicit UnreadableLog(const ByteSource& source) : source_(source) {}

    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return source_.size(); }
    std::optional<DiskExtent> extentAt(std::int64_t offset) const override { return source_.extentAt(offset); }
    int lastErrorCode() const override { return source_.lastErrorCode(); }

    // Sorted, merged, and bounded by the source.
    std::vector<Stretch> stretches() const;

private:
    void locate(std::int64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t piece) const;
    void note(std::int64_t offset, std::int64_t length) const;

    const ByteSource& source_;
    mutable std::mutex mutex_;
    mutable std::vector<Stretch> noted_;
};

// True when [offset, offset + length) meets a stretch of sorted.
bool overlapsUnreadable(const std::vector<UnreadableLog::Stretch>& sorted, std::int64_t offset, std::int64_t length);

}  // namespace ondrel
