#pragma once
// The free allocation units (clusters, blocks) an allocation map marks,
// gathered in ascending order as they are read, then turned into the byte runs
// of the volume they cover. Every file system's free space goes through it.
#include "common/Endian.h"
#include "volumes/ByteRuns.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

class FreeUnitRuns {
public:
    // Which bit of a map byte stands for its first unit.
    enum class BitOrder { LeastSignificantFirst, MostSignificantFirst };
    // A map of alternating bits on a huge volume would otherwise cost
    // gigabytes; free space in more pieces than this is not kept.
    static constexpr std::size_t kMaxRuns = std::size_t(1) << 24;

    // Units [unit, unit + count) are free. Units come in ascending order;
    // one that overlaps or touches the last run extends it.
    void addFree(std::uint64_t unit, std::uint64_t count);
    // The clear bits of the first bitCount bits of map (as far as map
    // reaches), bit i standing for unit firstUnit + i.
    void addClearBits(Bytes map, std::uint64_t bitCount, std::uint64_t firstUnit, BitOrder order);

    // More pieces than kMaxRuns were offered: what is kept is incomplete.
    bool overflowed() const { return overflowed_; }
    bool empty() const { return runs_.empty(); }

    // Unit u as the bytes [base + u * unitBytes, + unitBytes), cut at limit
    // (the volume's end); sorted, merged, empty runs left out.
    std::vector<ByteRun> byteRuns(std::int64_t base, std::int64_t unitBytes, std::int64_t limit) const;
    // byteRuns into runs; false with the reason when the map was cut short
    // (too many pieces), or its reading stopped.
    bool finish(std::vector<ByteRun>& runs, std::int64_t base, std::int64_t unitBytes, std::int64_t limit,
                bool stopped, std::string& message) const;

private:
    struct Run {
        std::uint64_t first = 0, count = 0;
    };
    std::vector<Run> runs_;
    bool overflowed_ = false;
};

}  // namespace ondrel
