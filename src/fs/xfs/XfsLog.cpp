#include "fs/xfs/XfsLog.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace ondrel {

namespace {
constexpr std::uint32_t kRecordMagic = 0xFEEDBABE;
constexpr std::size_t kSector = 512;
constexpr std::size_t kCyclesPerHeader = 64;  // sectors whose first bytes one header sector keeps
constexpr std::uint32_t kMaxRecordData = 4u << 20;
constexpr std::size_t kChunk = std::size_t(4) << 20;
// Bounds for hostile logs: open transactions, and the bytes they may hold.
constexpr std::size_t kMaxOpen = 4096;
constexpr std::size_t kMaxTransactionBytes = std::size_t(256) << 20, kMaxOpenBytes = std::size_t(512) << 20;

// Operation flags and clients of the log's operation headers.
constexpr std::uint8_t kStart = 0x01, kCommit = 0x02, kContinue = 0x04, kWasContinued = 0x08, kEnd = 0x10, kUnmount = 0x20;
constexpr std::uint8_t kClientTransaction = 0x69, kClientLog = 0xaa;
// Log item types, and the transaction header's magic ("TRAN").
constexpr std::uint16_t kItemInode = 0x123b, kItemBuffer = 0x123c;
constexpr std::uint32_t kTransactionMagic = 0x5452414e;
// Inode item fields: which of the data fork's forms is logged, and a buffer freed.
constexpr std::uint32_t kLogDData = 0x2, kLogDExtents = 0x4, kLogDRoot = 0x8;
constexpr std::uint16_t kBufferCancel = 0x2;
constexpr std::uint64_t kFlag2BigTime = 1u << 3;

// Item structures are written in the byte order of the machine that logged them.
struct HostOrder {
    bool little = true;
    std::uint16_t u16(Bytes b, std::size_t at) const { return little ? le16(b, at) : be16(b, at); }
    std::uint32_t u32(Bytes b, std::size_t at) const { return little ? le32(b, at) : be32(b, at); }
    std::uint64_t u64(Bytes b, std::size_t at) const { return little ? le64(b, at) : be64(b, at); }
};

void putBe(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}

// The inode core as the log holds it (the in-memory order) put back into the
// on-disk layout, which has the same fields at the same places.
bool diskCore(Bytes log, const HostOrder& h, const XfsSuperblock& sb, std::vector<std::uint8_t>& out) {
    if (log.size() < 96 || h.u16(log, 0) != 0x494e) return false;
    const std::uint8_t version = log[4];
    const bool v3 = version == 3;
    if (version < 1 || version > 3 || (v3 && log.size() < 176)) return false;
    out.assign(v3 ? 176 : 100, 0);
    static const std::pair<std::uint8_t, std::uint8_t> fields[] = {
        {0, 2}, {2, 2}, {4, 1}, {5, 1}, {6, 2}, {8, 4}, {12, 4}, {16, 4}, {20, 2}, {22, 2}, {24, 8}, {56, 8}, {64, 8},
        {72, 4}, {76, 4}, {80, 2}, {82, 1}, {83, 1}, {84, 4}, {88, 2}, {90, 2}, {92, 4}};
    static const std::pair<std::uint8_t, std::uint8_t> v3Fields[] = {{96, 4}, {104, 8}, {112, 8}, {120, 8}, {128, 4}, {152, 8}};
    auto swap = [&](std::size_t at, std::size_t width) {
        const std::uint64_t v = width == 1 ? log[at] : width == 2 ? h.u16(log, at) : width == 4 ? h.u32(log, at) : h.u64(log, at);
        putBe(out, at, v, width);
    };
    for (const auto& [at, width] : fields) swap(at, width);
    const bool big = v3 && sb.bigTime() && (h.u64(log, 120) & kFlag2BigTime);
    std::vector<std::size_t> stamps{32, 40, 48};
    if (v3) {
        for (const auto& [at, width] : v3Fields) swap(at, width);
        std::memcpy(out.data() + 132, log.data() + 132, 12);
        std::memcpy(out.data() + 160, log.data() + 160, 16);  // the UUID is bytes
        stamps.push_back(144);
    } else {
        putBe(out, 96, 0xFFFFFFFFu, 4);  // no next unlinked inode
    }
    // A big timestamp is one 64-bit count; an older one two 32-bit halves.
    for (std::size_t at : stamps) {
        if (big) {
            swap(at, 8);
        } else {
            swap(at, 4);
            swap(at + 4, 4);
        }
    }
    return true;
}

// A logged B+tree root is the in-memory block (a long-form block header, then
// keys and pointers spread over its own room); the inode keeps level, count,
// then keys and pointers spread over the fork's room.
std::vector<std::uint8_t> inodeRoot(Bytes logged, const XfsSuperblock& sb, std::size_t forkSize) {
    const std::size_t header = sb.crc() ? 72 : 24;
    if (logged.size() < header + 16 || forkSize < 20) return {};
    const std::size_t loggedRoom = (logged.size() - header) / 16, room = (forkSize - 4) / 16;
    const std::size_t count = std::min<std::size_t>({be16(logged, 6), loggedRoom, room});
    std::vector<std::uint8_t> out(forkSize, 0);
    std::memcpy(out.data(), logged.data() + 4, 2);  // the level
    putBe(out, 2, count, 2);
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out.data() + 4 + i * 8, logged.data() + header + i * 8, 8);
        std::memcpy(out.data() + 4 + room * 8 + i * 8, logged.data() + header + loggedRoom * 8 + i * 8, 8);
    }
    return out;
}

struct Transaction {
    std::uint64_t lsn = 0;
    std::vector<std::vector<std::uint8_t>> regions;
    std::size_t bytes = 0;
    bool dropped = false;  // grew past its bound: its items are not handed on
};

class LogWalk {
public:
    LogWalk(const XfsSuperblock& sb, std::uint64_t logBytes, const XfsLogReader& read, const std::function<void(const XfsLogInode&)>& onInode,
            const std::function<void(const XfsLogBuffer&)>& onBuffer, XfsLogSummary& summary)
        : sb_(sb), logBytes_(logBytes), read_(read), onInode_(onInode), onBuffer_(onBuffer), summary_(summary) {}

    // The record whose header is at sector `at`: its sectors (0 when none is there).
    std::uint64_t record(std::uint64_t at, Bytes header);
    void finish() {
        for (auto& [tid, t] : open_) items(t);
        open_.clear();
    }

private:
    bool readWrapped(std::uint64_t offset, std::uint8_t* to, std::size_t count);
    void operations(Bytes data, std::uint32_t count, std::uint64_t lsn);
    void items(Transaction& t);
    void inodeItem(const std::vector<std::vector<std::uint8_t>>& regions, std::size_t first, std::size_t count, std::uint64_t lsn);
    void bufferItem(const std::vector<std::vector<std::uint8_t>>& regions, std::size_t first, std::size_t count, std::uint64_t lsn);

    const XfsSuperblock& sb_;
    std::uint64_t logBytes_;
    const XfsLogReader& read_;
    const std::function<void(const XfsLogInode&)>& onInode_;
    const std::function<void(const XfsLogBuffer&)>& onBuffer_;
    XfsLogSummary& summary_;
    HostOrder host_;
    std::unordered_map<std::uint32_t, Transaction> open_;
    std::size_t openBytes_ = 0;
    std::vector<std::uint8_t> buffer_;
};

bool LogWalk::readWrapped(std::uint64_t offset, std::uint8_t* to, std::size_t count) {
    // A record written where the log ends goes on at its start.
    offset %= logBytes_;
    const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(count, logBytes_ - offset));
    return read_(offset, to, first) && (first == count || read_(0, to + first, count - first));
}

std::uint64_t LogWalk::record(std::uint64_t at, Bytes h) {
    if (be32(h, 0) != kRecordMagic) return 0;
    const std::uint32_t cycle = be32(h, 4), version = be32(h, 8) & 3, length = be32(h, 12), ops = be32(h, 40);
    const std::uint32_t format = be32(h, 300), recordSize = be32(h, 320);
    if ((version != 1 && version != 2) || length == 0 || length > kMaxRecordData || (version == 1 && length > 32768) || cycle == 0 ||
        ops > length / 12 + 1 || (format < 1 || format > 3) || std::memcmp(h.data() + 304, sb_.uuid, 16) != 0)
        return 0;
    const std::uint64_t headerSectors = version == 2 && recordSize > 32768 ? (recordSize + 32767) / 32768 : 1;
    const std::uint64_t dataSectors = (length + kSector - 1) / kSector;
    if (headerSectors > 16 || dataSectors > headerSectors * kCyclesPerHeader) return 0;
    const std::size_t total = static_cast<std::size_t>((headerSectors + dataSectors) * kSector);
    if (total > logBytes_) return 0;
    buffer_.resize(total);
    if (!readWrapped(at * kSector, buffer_.data(), total)) return 0;
    // Each sector after the first header sector carries the cycle; a record
    // partly written over by a later one does not.
    const Bytes all(buffer_);
    for (std::uint64_t s = 1; s < headerSectors + dataSectors; ++s)
        if (be32(all, s * kSector) != cycle) {
            ++summary_.damagedRecords;
            return 0;
        }
    std::uint8_t* data = buffer_.data() + headerSectors * kSector;
    for (std::uint64_t s = 0; s < dataSectors; ++s) {
        const std::uint64_t hs = s / kCyclesPerHeader, k = s % kCyclesPerHeader;
        std::memcpy(data + s * kSector, buffer_.data() + hs * kSector + (hs == 0 ? 44 : 4) + k * 4, 4);
    }
    host_.little = format == 1;
    ++summary_.records;
    if (summary_.recordsByCycle.size() < 1024 || summary_.recordsByCycle.count(cycle)) ++summary_.recordsByCycle[cycle];
    operations(Bytes(data, length), ops, be64(h, 16));
    return headerSectors + dataSectors;
}

void LogWalk::operations(Bytes data, std::uint32_t count, std::uint64_t lsn) {
    std::size_t p = 0;
    for (std::uint32_t i = 0; i < count && p + 12 <= data.size(); ++i) {
        const std::uint32_t tid = be32(data, p), length = be32(data, p + 4);
        const std::uint8_t client = data[p + 8];
        std::uint8_t flags = data[p + 9];
        if ((client != kClientTransaction && client != kClientLog) || length > data.size() - p - 12) return;  // no operation
        const Bytes payload = data.subspan(p + 12, length);
        p += 12 + length;
        if (client == kClientLog) continue;  // the unmount record
        if (flags & kStart) {
            if (open_.size() >= kMaxOpen) continue;
            openBytes_ -= open_[tid].bytes;
            open_[tid] = Transaction{lsn, {}, 0, false};
            continue;
        }
        flags &= static_cast<std::uint8_t>(~kEnd);
        if (flags & kWasContinued) flags &= static_cast<std::uint8_t>(~kContinue);
        auto it = open_.find(tid);
        if (it == open_.end()) {
            // Its start lies in a record written over since: what follows still counts.
            if (open_.size() >= kMaxOpen) continue;
            it = open_.emplace(tid, Transaction{lsn, {}, 0, false}).first;
        }
        Transaction& t = it->second;
        if (flags == kCommit || flags == kUnmount) {
            if (flags == kCommit) {
                ++summary_.transactions;
                items(t);
            }
            openBytes_ -= t.bytes;
            open_.erase(it);
            continue;
        }
        if (t.dropped || length == 0) continue;
        if (t.bytes + length > kMaxTransactionBytes || openBytes_ + length > kMaxOpenBytes) {
            openBytes_ -= t.bytes;
            t.regions = {};
            t.bytes = 0;
            t.dropped = true;
            continue;
        }
        if (flags == kWasContinued && !t.regions.empty()) {
            t.regions.back().insert(t.regions.back().end(), payload.begin(), payload.end());
        } else if (flags == 0 || flags == kContinue) {
            t.regions.emplace_back(payload.begin(), payload.end());
        } else {
            continue;
        }
        t.bytes += length;
        openBytes_ += length;
    }
}

void LogWalk::items(Transaction& t) {
    if (t.dropped) return;
    const auto& r = t.regions;
    for (std::size_t i = 0; i < r.size();) {
        const Bytes b(r[i]);
        if (b.size() >= 16 && host_.u32(b, 0) == kTransactionMagic) {
            ++i;
            continue;
        }
        // An item: its first region states its type and how many regions it has.
        const std::uint16_t type = b.size() >= 4 ? host_.u16(b, 0) : 0, count = b.size() >= 4 ? host_.u16(b, 2) : 0;
        if (type < 0x1230 || type > 0x1260 || count == 0 || count > 256 || i + count > r.size()) {
            ++i;
            continue;
        }
        if (type == kItemInode) inodeItem(r, i, count, t.lsn);
        else if (type == kItemBuffer) bufferItem(r, i, count, t.lsn);
        i += count;
    }
}

void LogWalk::inodeItem(const std::vector<std::vector<std::uint8_t>>& r, std::size_t first, std::size_t count, std::uint64_t lsn) {
    const Bytes format(r[first]);
    // Two layouts of the item's header are in use: 56 bytes, and 52 packed.
    std::size_t inoAt;
    if (format.size() == 56) inoAt = 16;
    else if (format.size() == 52) inoAt = 12;
    else return;
    if (count < 2) return;
    XfsLogInode copy;
    copy.lsn = lsn;
    copy.number = host_.u64(format, inoAt);
    const std::uint32_t fields = host_.u32(format, 4);
    if (!diskCore(r[first + 1], host_, sb_, copy.core)) return;
    ++summary_.inodeCopies;
    if ((fields & (kLogDData | kLogDExtents | kLogDRoot)) && count >= 3) {
        const std::size_t forkOff = copy.core[82];
        const std::size_t forkSize = forkOff ? forkOff * 8 : sb_.inodeSize - copy.core.size();
        const Bytes fork(r[first + 2]);
        copy.hasDataFork = true;
        if (fields & kLogDRoot) {
            copy.dataFork = inodeRoot(fork, sb_, forkSize);
        } else {
            copy.dataFork.assign(fork.begin(), fork.begin() + static_cast<std::ptrdiff_t>(std::min(fork.size(), forkSize)));
        }
    }
    onInode_(copy);
}

void LogWalk::bufferItem(const std::vector<std::vector<std::uint8_t>>& r, std::size_t first, std::size_t count, std::uint64_t lsn) {
    const Bytes format(r[first]);
    if (format.size() < 20) return;
    const std::uint16_t flags = host_.u16(format, 4);
    const std::uint32_t mapWords = host_.u32(format, 16);
    ++summary_.bufferCopies;
    // A cancelled buffer was freed in that transaction: it holds no copy.
    if (flags & kBufferCancel || mapWords > (format.size() - 20) / 4) return;
    XfsLogBuffer copy;
    copy.lsn = lsn;
    copy.byte = static_cast<std::int64_t>(host_.u64(format, 8) * kSector);
    copy.length = std::uint32_t(host_.u16(format, 6)) * kSector;
    copy.type = (flags >> 11) & 0x1f;
    if (copy.byte < 0 || copy.length == 0) return;
    // Each region is one run of logged 128-byte chunks, in the order of the dirty map.
    auto bit = [&](std::uint32_t n) { return (host_.u32(format, 20 + (n / 32) * 4) >> (n % 32)) & 1; };
    const std::uint32_t bits = mapWords * 32;
    std::uint32_t n = 0;
    for (std::size_t i = first + 1; i < first + count; ++i) {
        while (n < bits && !bit(n)) ++n;
        if (n >= bits) break;
        std::uint32_t run = 0;
        while (n + run < bits && bit(n + run)) ++run;
        const std::uint32_t offset = n * 128;
        if (offset >= copy.length) break;
        const std::size_t take = std::min<std::size_t>({r[i].size(), std::size_t(run) * 128, copy.length - offset});
        copy.regions.emplace_back(offset, std::vector<std::uint8_t>(r[i].begin(), r[i].begin() + static_cast<std::ptrdiff_t>(take)));
        n += run;
    }
    onBuffer_(copy);
}
}  // namespace

bool readXfsLog(const XfsSuperblock& sb, std::uint64_t logBytes, const XfsLogReader& read,
                const std::function<void(const XfsLogInode&)>& onInode, const std::function<void(const XfsLogBuffer&)>& onBuffer,
                const std::function<bool()>& stop, XfsLogSummary& summary, std::string& message) {
    summary = {};
    logBytes -= logBytes % kSector;
    if (logBytes < kSector) {
        message = "the log is empty";
        return false;
    }
    LogWalk walk(sb, logBytes, read, onInode, onBuffer, summary);
    const std::uint64_t sectors = logBytes / kSector;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, logBytes)));
    std::uint64_t unreadable = 0;
    for (std::uint64_t base = 0; base < sectors && !stop();) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk / kSector, sectors - base));
        if (!read(base * kSector, chunk.data(), n * kSector)) {
            ++unreadable;
            base += n;
            continue;
        }
        std::uint64_t next = base + n;
        for (std::size_t s = 0; s < n; ++s) {
            const Bytes header = Bytes(chunk).subspan(s * kSector, kSector);
            if (be32(header, 0) != kRecordMagic) continue;
            if (const std::uint64_t used = walk.record(base + s, header); used > 1) {
                // The rest of the record is no header; the walk goes on after it.
                if (s + used > n) {
                    next = base + s + used;
                    break;
                }
                s += used - 1;
            }
        }
        base = next;
    }
    walk.finish();
    if (summary.records == 0) {
        message = unreadable ? "the log cannot be read" : "the log holds no record of this volume";
        return false;
    }
    return true;
}

}  // namespace ondrel
