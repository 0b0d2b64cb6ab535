#pragma once
// The stretches of a disk that could not be read (unmapped blocks, damaged
// compressed clusters, a truncated file), noted as reads meet them. Adjacent
// stretches with the same reason join, so a damaged cluster is one note however
// many reads touch it. Safe to note into from many threads.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ondrel {

struct DamagedRange {
    std::uint64_t first = 0;  // bytes of the disk, inclusive
    std::uint64_t end = 0;    // exclusive
    std::string reason;
};

class DamageLog {
public:
    void note(std::uint64_t offset, std::uint64_t length, const std::string& reason);
    // Every range noted, in disk order.
    std::vector<DamagedRange> ranges() const;
    bool empty() const;
    // "sectors N–M could not be read: reason", one line per range (at most
    // limit lines, then how many more).
    std::vector<std::string> describe(std::size_t limit = 5) const;

private:
    static constexpr std::size_t kMaxRanges = 4096;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, DamagedRange> ranges_;  // by first byte
    std::uint64_t dropped_ = 0;                      // ranges beyond kMaxRanges
};

}  // namespace ondrel
