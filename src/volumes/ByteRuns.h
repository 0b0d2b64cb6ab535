#pragma once
// Runs of a source read as one: the free space of a file system (its clusters
// that no live file uses) carved as if it were contiguous, so a deleted file
// that was written around a live one is read without it. Positions in the
// runs map back to the parent's, which is where finds are named and listed.
#include "diskimage/ByteSource.h"

#include <memory>
#include <vector>

namespace ondrel {

// A run of bytes of a source: its offset and length.
struct ByteRun {
    std::int64_t offset = 0, length = 0;
    bool operator==(const ByteRun&) const = default;
};

class ByteRunsSource : public ByteSource {
public:
    // Runs are used as given after sorting, clipping to the parent and
    // dropping empty and overlapping parts.
    ByteRunsSource(std::shared_ptr<const ByteSource> parent, std::vector<ByteRun> runs);

    bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override;
    std::int64_t size() const override { return size_; }
    int lastErrorCode() const override { return parent_->lastErrorCode(); }

    // The parent's offset of a position in the runs (the end of the last run for size()).
    std::int64_t parentOffset(std::int64_t offset) const;
    const std::vector<ByteRun>& runs() const { return runs_; }

private:
    std::size_t runAt(std::int64_t offset) const;

    std::shared_ptr<const ByteSource> parent_;
    std::vector<ByteRun> runs_;
    std::vector<std::int64_t> starts_;  // each run's first position in the runs
    std::int64_t size_ = 0;
};

}  // namespace ondrel
