#include "fs/FreeUnitRuns.h"

#include <algorithm>

namespace ondrel {

void FreeUnitRuns::addFree(std::uint64_t unit, std::uint64_t count) {
    if (count == 0 || overflowed_) return;
    const std::uint64_t end = unit + std::min(count, UINT64_MAX - unit);
    if (!runs_.empty()) {
        Run& last = runs_.back();
        const std::uint64_t lastEnd = last.first + last.count;
        if (unit <= lastEnd && unit >= last.first) {
            if (end > lastEnd) last.count = end - last.first;
            return;
        }
        if (unit < last.first) {
            // Out of order: the callers read their maps front to back, so
            // this is damage; the run is merged in place.
            auto at = std::lower_bound(runs_.begin(), runs_.end(), unit,
                                       [](const Run& r, std::uint64_t u) { return r.first + r.count < u; });
            Run merged{std::min(unit, at->first), 0};
            std::uint64_t mergedEnd = end;
            auto stop = at;
            while (stop != runs_.end() && stop->first <= mergedEnd) {
                mergedEnd = std::max(mergedEnd, stop->first + stop->count);
                ++stop;
            }
            merged.count = mergedEnd - merged.first;
            if (at == stop && runs_.size() >= kMaxRuns) {
                overflowed_ = true;
                return;
            }
            at = runs_.erase(at, stop);
            runs_.insert(at, merged);
            return;
        }
    }
    if (runs_.size() >= kMaxRuns) {
        overflowed_ = true;
        return;
    }
    runs_.push_back({unit, end - unit});
}

void FreeUnitRuns::addClearBits(Bytes map, std::uint64_t bitCount, std::uint64_t firstUnit, BitOrder order) {
    bitCount = std::min<std::uint64_t>(bitCount, static_cast<std::uint64_t>(map.size()) * 8);
    std::uint64_t runStart = 0, runLength = 0;
    auto flush = [&] {
        if (runLength > 0) addFree(firstUnit + runStart, runLength);
        runLength = 0;
    };
    for (std::uint64_t i = 0; i < bitCount;) {
        const std::uint8_t byte = map[static_cast<std::size_t>(i / 8)];
        // Whole bytes at once where they are all used or all free.
        if (i % 8 == 0 && bitCount - i >= 8 && (byte == 0x00 || byte == 0xFF)) {
            if (byte == 0xFF) {
                flush();
            } else {
                if (runLength == 0) runStart = i;
                runLength += 8;
            }
            i += 8;
            continue;
        }
        const unsigned bit = static_cast<unsigned>(i % 8);
        const std::uint8_t mask = order == BitOrder::LeastSignificantFirst ? static_cast<std::uint8_t>(1u << bit)
                                                                          : static_cast<std::uint8_t>(0x80u >> bit);
        if (byte & mask) {
            flush();
        } else {
            if (runLength == 0) runStart = i;
            ++runLength;
        }
        ++i;
    }
    flush();
}

std::vector<ByteRun> FreeUnitRuns::byteRuns(std::int64_t base, std::int64_t unitBytes, std::int64_t limit) const {
    std::vector<ByteRun> out;
    if (unitBytes <= 0 || base < 0 || limit <= base) return out;
    // No unit past the limit is converted, so the products stay inside 64 bits.
    const auto units = static_cast<std::uint64_t>((limit - base + unitBytes - 1) / unitBytes);
    for (const Run& r : runs_) {
        if (r.first >= units) break;
        const std::uint64_t count = std::min(r.count, units - r.first);
        const std::int64_t offset = base + static_cast<std::int64_t>(r.first) * unitBytes;
        const std::int64_t length = std::min(static_cast<std::int64_t>(count) * unitBytes, limit - offset);
        if (length <= 0) continue;
        if (!out.empty() && out.back().offset + out.back().length >= offset) {
            out.back().length = std::max(out.back().offset + out.back().length, offset + length) - out.back().offset;
        } else {
            out.push_back({offset, length});
        }
    }
    return out;
}

bool FreeUnitRuns::finish(std::vector<ByteRun>& runs, std::int64_t base, std::int64_t unitBytes, std::int64_t limit,
                          bool stopped, std::string& message) const {
    runs.clear();
    if (stopped) {
        message = "The reading of the free space was stopped.";
        return false;
    }
    if (overflowed_) {
        message = "The free space is split into more than " + std::to_string(kMaxRuns) +
                  " pieces; it is not used to limit the search.";
        return false;
    }
    runs = byteRuns(base, unitBytes, limit);
    return true;
}

}  // namespace ondrel
