#pragma once
// The one sweep over a range of the disk or a volume: aligned chunks read
// through the reader with a margin, so a structure that crosses a chunk's end
// is seen whole; progress and the stop and pause flags handled in one place;
// a test called at every position. The partition sweep, the MFT-record
// searches, the FAT searches and carving all stand on it. Positions are the
// source's own: a volume's source starts at the volume.
#include "common/IoBuffer.h"
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"

#include <algorithm>
#include <cstdint>

namespace ondrel {

struct SweepOptions {
    std::int64_t begin = 0;            // first position tested (bytes of the source)
    std::int64_t end = 0;              // positions are tested while position + stride <= end
    std::int64_t lastChunkStart = -1;  // when >= 0, no chunk starts beyond it
    std::uint32_t stride = 512;        // distance between tested positions
    std::uint32_t window = 512;        // bytes the test may look at from a position
    std::uint32_t chunkBytes = 1 << 20;
    bool readFailureEnds = false;      // a failed read ends the sweep (else the bytes given are tested)
    enum class Progress { Permille, Chunks } progress = Progress::Permille;
};

struct SweepOutcome {
    bool stopped = false;     // by the stop flag
    bool finished = false;    // by the test
    bool readFailed = false;  // a read failed and ended the sweep
    std::int64_t reached = 0; // the first position not tested
};

// What a test returns: 0 to go on with the next position, a positive count of
// bytes to jump from the tested position, or kEndSweep.
inline constexpr std::int64_t kEndSweep = -1;

// The chunk loop over a range already bounded by the disk.
template <typename ScanChunk, typename BeforeRead>
SweepOutcome sweepChunksWithin(const ByteSource& reader, const SweepOptions& o, ScanObserver& observer,
                                WorkControl& control, ScanChunk&& scan, BeforeRead&& beforeRead) {
    SweepOutcome out;
    const std::int64_t stride = std::max<std::uint32_t>(o.stride, 1);
    const std::int64_t margin = o.window > o.stride ? o.window - o.stride : 0;
    const std::int64_t chunkBytes = std::max<std::int64_t>(o.chunkBytes, stride);
    const std::int64_t chunks = std::max<std::int64_t>((o.end - o.begin) / chunkBytes, 0);
    auto report = [&](std::int64_t position, std::int64_t chunk) {
        if (o.progress == SweepOptions::Progress::Chunks) observer.progressPosition(chunk);
        else if (o.end > 0)
            observer.progressPosition(static_cast<std::int64_t>(static_cast<double>(std::min(position, o.end)) /
                                                                static_cast<double>(o.end) * 1000.0));
    };
    observer.progressRange(0, o.progress == SweepOptions::Progress::Chunks ? chunks : 1000);
    // A small range needs no more than itself.
    IoBuffer buffer(static_cast<std::size_t>(std::min(chunkBytes, std::max<std::int64_t>(o.end - o.begin, stride)) + margin));
    std::int64_t position = o.begin;
    for (std::int64_t chunk = 0; position + stride <= o.end; ++chunk) {
        if (o.lastChunkStart >= 0 && position > o.lastChunkStart) break;
        if (control.poll()) {
            out.stopped = true;
            break;
        }
        beforeRead(position);
        const std::int64_t want = std::min(chunkBytes, o.end - position);
        // The margin is read past the range's end too: a structure may cross it.
        bool ok = reader.readAt(position, buffer.data(), static_cast<std::size_t>(want + margin));
        if (!ok && o.readFailureEnds) {
            out.readFailed = true;
            break;
        }
        std::int64_t moved = scan(static_cast<const std::uint8_t*>(buffer.data()), position, want);
        if (moved < 0) {
            out.finished = true;
            report(position, chunk);
            break;
        }
        position += std::max(moved, stride);
        report(position, chunk + 1);
    }
    out.reached = position;
    return out;
}

// The chunk loop itself, for scans that test a whole chunk in tight loops of
// their own: scan(const std::uint8_t* bytes, std::int64_t position,
// std::int64_t length) sees the length bytes of positions in the chunk (plus
// the margin after them) and returns how far to move on (length, or more to
// jump) or kEndSweep. beforeRead(std::int64_t chunkStart) runs before each read.
template <typename ScanChunk, typename BeforeRead>
SweepOutcome sweepChunks(const ByteSource& reader, const SweepOptions& o, ScanObserver& observer,
                         WorkControl& control, ScanChunk&& scan, BeforeRead&& beforeRead) {
    // Whatever a table, a boot sector or the user says, the sweep ends with the source.
    const std::int64_t diskEnd = reader.size();
    SweepOptions bounded = o;
    bounded.end = std::min(o.end, diskEnd);
    return sweepChunksWithin(reader, bounded, observer, control, std::forward<ScanChunk>(scan),
                              std::forward<BeforeRead>(beforeRead));
}

// A test at every position: test(const std::uint8_t* bytes, std::int64_t
// position) -> 0, a jump in bytes, or kEndSweep.
template <typename Test, typename BeforeRead>
SweepOutcome sweepRange(const ByteSource& reader, const SweepOptions& o, ScanObserver& observer, WorkControl& control,
                        Test&& test, BeforeRead&& beforeRead) {
    const std::int64_t stride = std::max<std::uint32_t>(o.stride, 1);
    auto scan = [&](const std::uint8_t* bytes, std::int64_t position, std::int64_t length) -> std::int64_t {
        std::int64_t p = 0;
        while (p + stride <= length) {
            std::int64_t step = test(bytes + p, position + p);
            if (step < 0) return kEndSweep;
            p += step > 0 ? step : stride;
        }
        return p;
    };
    return sweepChunks(reader, o, observer, control, scan, std::forward<BeforeRead>(beforeRead));
}

template <typename Test>
SweepOutcome sweepRange(const ByteSource& reader, const SweepOptions& o, ScanObserver& observer, WorkControl& control,
                        Test&& test) {
    return sweepRange(reader, o, observer, control, std::forward<Test>(test), [](std::int64_t) {});
}

}  // namespace ondrel
