#pragma once
// The XFS log (its journal): the records of the circular log, each of 512-byte
// sectors whose first four bytes carry the log's cycle number (the bytes they
// stand for are kept in the record header), and in them the transactions'
// regions. Of those, the copies of inodes and of buffers are handed on.
// Old records stay until the log wraps round, so copies of an inode from
// before its file was deleted, with its size and block map, are often still
// there. The log is looked at sector by sector, not only from its tail to its
// head: records of older cycles count too, and a damaged one costs only itself.
#include "common/Endian.h"
#include "fs/xfs/XfsSuperblock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ondrel {

// A copy of an inode: its core put back into the on-disk layout (big-endian,
// 176 bytes for version 3, 100 for older ones) and, when the copy holds it,
// its data fork as it would stand in the inode (a B+tree root in the
// inode's own form).
struct XfsLogInode {
    std::uint64_t lsn = 0;  // the record's cycle and block: later copies have higher ones
    std::uint64_t number = 0;
    std::vector<std::uint8_t> core;
    bool hasDataFork = false;
    std::vector<std::uint8_t> dataFork;
};

// A copy of (parts of) a buffer: the regions logged, each at its offset.
struct XfsLogBuffer {
    std::uint64_t lsn = 0;
    std::int64_t byte = 0;     // where the buffer starts in the volume
    std::uint32_t length = 0;  // its bytes
    std::uint32_t type = 0;    // the buffer type the log states (0 unknown)
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> regions;
};

// Buffer types of directory data.
constexpr std::uint32_t kXfsLogDirBlockBuffer = 10, kXfsLogDirDataBuffer = 11;

struct XfsLogSummary {
    std::uint64_t records = 0, transactions = 0, inodeCopies = 0;
    std::uint64_t bufferCopies = 0;  // buffer items, cancelled ones too
    std::uint64_t damagedRecords = 0;  // headers found whose data did not hold together
    std::map<std::uint32_t, std::uint64_t> recordsByCycle;  // a wrapped log holds records of older cycles too
};

// Reads the log's bytes [offset, offset + count); false when they cannot be read.
using XfsLogReader = std::function<bool(std::uint64_t offset, std::uint8_t* to, std::size_t count)>;

// Walks a log of logBytes bytes. Each inode and buffer copy is handed to its
// callback as its transaction is complete; stop() is asked between chunks.
// False with a message when no record of this volume is found.
bool readXfsLog(const XfsSuperblock& sb, std::uint64_t logBytes, const XfsLogReader& read,
                const std::function<void(const XfsLogInode&)>& onInode, const std::function<void(const XfsLogBuffer&)>& onBuffer,
                const std::function<bool()>& stop, XfsLogSummary& summary, std::string& message);

}  // namespace ondrel
