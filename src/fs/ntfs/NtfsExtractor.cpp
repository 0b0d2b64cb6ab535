#include "fs/ntfs/NtfsExtractor.h"
#include "common/IoBuffer.h"

#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace ondrel {

namespace {
constexpr std::uint64_t kCopyChunk = 1 << 20;
}

bool NtfsExtractor::readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out) {
    std::uint64_t cs = static_cast<std::uint64_t>(parser_.clusterSize_);
    std::uint64_t bytes = count * cs;
    std::int64_t at = 0, end = 0;
    // Clusters outside the volume (or outside what 64 bits can address) are
    // damage, not data of this volume.
    bool outside = lcn < 0 || __builtin_mul_overflow(lcn, static_cast<std::int64_t>(cs), &at) ||
                   __builtin_add_overflow(at, static_cast<std::int64_t>(bytes), &end) ||
                   (parser_.volumeSize_ > 0 && end > parser_.volumeSize_);
    if (outside) {
        std::memset(out, 0, bytes);
        readErrors_ = true;
        return false;
    }
    if (!parser_.reader_.readAt(at, out, static_cast<std::uint32_t>(bytes))) {
        readErrors_ = true;
        return false;
    }
    return true;
}

std::int64_t NtfsExtractor::lcnAt(const std::vector<Mapping>& map, std::int64_t vcn, std::size_t& hint) {
    if (hint >= map.size() || map[hint].vcn > vcn) hint = 0;
    for (; hint < map.size(); ++hint) {
        const Mapping& m = map[hint];
        if (vcn < m.vcn) return -1;
        if (vcn < m.vcn + static_cast<std::int64_t>(m.run.length))
            return m.run.sparse ? -1 : m.run.startCluster + (vcn - m.vcn);
    }
    return -1;
}

void NtfsExtractor::collectExtents(const NtfsRecord& base, std::vector<NtfsAttribute>& primary,
                                   std::vector<Extent>& extents) {
    std::map<std::int64_t, Extent> byVcn;
    auto take = [&](const NtfsRecord& rec) {
        for (const auto& a : rec.attributes()) {
            if (a.type != kData || a.nameLength != 0) continue;
            if (!a.nonResident) {
                if (primary.empty()) primary.push_back(a);
                continue;
            }
            if (byVcn.count(a.startVcn)) continue;
            if (a.startVcn == 0) primary.assign(1, a);
            Extent e;
            e.startVcn = a.startVcn;
            e.runs = decodeRunList(rec.runList(a), static_cast<std::uint64_t>(a.lastVcn) - static_cast<std::uint64_t>(a.startVcn) + 1);
            byVcn.emplace(a.startVcn, std::move(e));
        }
    };
    take(base);
    for (const auto& a : base.attributes()) {
        if (a.type != kAttributeList) continue;
        std::vector<std::uint8_t> list;
        if (!a.nonResident) {
            Bytes c = base.content(a);
            list.assign(c.begin(), c.end());
        } else {
            auto runs = decodeRunList(base.runList(a), static_cast<std::uint64_t>(a.lastVcn) - static_cast<std::uint64_t>(a.startVcn) + 1);
            std::uint64_t size = static_cast<std::uint64_t>(std::clamp<std::int64_t>(a.realSize, 0, 1 << 20));
            std::uint64_t cs = static_cast<std::uint64_t>(parser_.clusterSize_);
            for (const auto& r : runs) {
                if (list.size() >= size) break;
                std::vector<std::uint8_t> buf(r.length * cs > size ? ((size + cs - 1) / cs) * cs : r.length * cs);
                if (!r.sparse) readClusters(r.startCluster, buf.size() / cs, buf.data());
                list.insert(list.end(), buf.begin(), buf.end());
            }
            list.resize(std::min<std::size_t>(list.size(), size));
        }
        Bytes l(list);
        std::uint64_t self = base.recordNumber();
        for (std::size_t p = 0; p + 26 <= l.size();) {
            std::uint32_t type = le32(l, p);
            std::uint16_t length = le16(l, p + 4);
            if (length < 26) break;
            if (type == kData && le8(l, p + 6) == 0) {
                std::uint64_t target = le64(l, p + 16) & 0xFFFFFFFFFFFFull;
                std::int64_t offset = target == self ? -1 : parser_.recordOffset(target);
                std::vector<std::uint8_t> raw;
                if (offset >= 0 && parser_.readRecord(offset, raw)) {
                    NtfsRecord rec{Bytes(raw)};
                    if (rec.isFile()) take(rec);
                }
            }
            p += length;
        }
    }
    for (auto& [vcn, e] : byVcn) extents.push_back(std::move(e));
}

WriteResult NtfsExtractor::writePlain(const std::vector<Mapping>& map, std::uint64_t realSize, std::uint64_t initialized,
                                      DataSink& sink) {
    std::uint64_t cs = static_cast<std::uint64_t>(parser_.clusterSize_);
    IoBuffer buf;
    std::uint64_t written = 0;
    for (const auto& m : map) {
        std::uint64_t runStart = static_cast<std::uint64_t>(m.vcn) * cs;
        if (runStart > written) {  // a gap between extents reads as zeros
            std::uint64_t gap = std::min(runStart, realSize) - written;
            buf.assign(std::min<std::uint64_t>(gap, kCopyChunk), 0);
            for (std::uint64_t left = gap; left > 0;) {
                std::uint64_t n = std::min<std::uint64_t>(left, buf.size());
                if (!sink.write(buf.data(), n)) return WriteResult::WriteFailed;
                left -= n;
            }
            written += gap;
        }
        for (std::uint64_t c = 0; c < m.run.length && written < realSize;) {
            if (parser_.control_->poll()) return WriteResult::ReadFailed;
            std::uint64_t clusters = std::min<std::uint64_t>(m.run.length - c, std::max<std::uint64_t>(kCopyChunk / cs, 1));
            buf.assign(clusters * cs, 0);
            if (!m.run.sparse) readClusters(m.run.startCluster + static_cast<std::int64_t>(c), clusters, buf.data());
            std::uint64_t n = std::min<std::uint64_t>(buf.size(), realSize - written);
            // Bytes past the initialised size were never written: NTFS reads them as zeros.
            if (written + n > initialized) {
                std::uint64_t from = initialized > written ? initialized - written : 0;
                std::memset(buf.data() + from, 0, n - from);
            }
            if (!sink.write(buf.data(), n)) return WriteResult::WriteFailed;
            written += n;
            c += clusters;
        }
    }
    if (written < realSize) {
        // The runs end before the data does: the rest is lost; keep the length.
        readErrors_ = true;
        buf.assign(std::min<std::uint64_t>(realSize - written, kCopyChunk), 0);
        while (written < realSize) {
            std::uint64_t n = std::min<std::uint64_t>(buf.size(), realSize - written);
            if (!sink.write(buf.data(), n)) return WriteResult::WriteFailed;
            written += n;
        }
    }
    return readErrors_ ? WriteResult::ReadFailed : WriteResult::Written;
}

WriteResult NtfsExtractor::writeCompressed(const std::vector<Mapping>& map, std::uint64_t realSize, unsigned unitClusters,
                                           DataSink& sink) {
    std::uint64_t cs = static_cast<std::uint64_t>(parser_.clusterSize_);
    std::uint64_t unitBytes = unitClusters * cs;
    IoBuffer packed(unitBytes), unpacked(unitBytes);
    std::vector<std::int64_t> lcns(unitClusters);
    std::size_t hint = 0;
    std::uint64_t written = 0;
    for (std::int64_t vcn = 0; written < realSize; vcn += unitClusters) {
        if (parser_.control_->poll()) return WriteResult::ReadFailed;
        std::size_t present = 0;
        for (unsigned i = 0; i < unitClusters; ++i) {
            lcns[i] = lcnAt(map, vcn + i, hint);
            if (lcns[i] >= 0) ++present;
        }
        const std::uint8_t* out = unpacked.data();
        if (present == 0) {
            std::fill(unpacked.begin(), unpacked.end(), 0);
        } else {
            // Read the unit's clusters, merging neighbours into one read.
            std::fill(packed.begin(), packed.end(), 0);
            for (unsigned i = 0; i < unitClusters;) {
                if (lcns[i] < 0) {
                    ++i;
                    continue;
                }
                unsigned j = i + 1;
                while (j < unitClusters && lcns[j] == lcns[j - 1] + 1) ++j;
                readClusters(lcns[i], j - i, packed.data() + i * cs);
                i = j;
            }
            if (lcns[unitClusters - 1] < 0) {
                // The unit ends sparse: it holds LZNT1 data.
                std::fill(unpacked.begin(), unpacked.end(), 0);
                bool ok = true;
                lznt1Decompress(packed.data(), present * cs, unpacked.data(), unitBytes, ok);
                if (!ok) readErrors_ = true;
            } else {
                out = packed.data();  // stored as it is
            }
        }
        std::uint64_t n = std::min<std::uint64_t>(unitBytes, realSize - written);
        if (!sink.write(out, n)) return WriteResult::WriteFailed;
        written += n;
    }
    return readErrors_ ? WriteResult::ReadFailed : WriteResult::Written;
}

WriteResult NtfsExtractor::extract(std::int64_t index, DataSink& sink) {
    readErrors_ = false;
    if (index < 0 || index >= static_cast<std::int64_t>(parser_.entries_.size())) return WriteResult::NotAFile;
    const NtfsEntry& entry = parser_.entries_[static_cast<std::size_t>(index)];
    std::vector<std::uint8_t> raw;
    if (!entry.isFile() || !parser_.readRecord(entry.diskOffset, raw)) return WriteResult::NotAFile;
    NtfsRecord record{Bytes(raw)};
    if (!record.isFile()) return WriteResult::NotAFile;

    std::vector<NtfsAttribute> primary;
    std::vector<Extent> extents;
    collectExtents(record, primary, extents);
    if (primary.empty()) return WriteResult::Written;  // no data: an empty file
    const NtfsAttribute& data = primary.front();
    if (!data.nonResident) {
        Bytes c = record.content(data);
        return sink.write(c.data(), c.size()) ? WriteResult::Written : WriteResult::WriteFailed;
    }
    if (parser_.clusterSize_ <= 0) return WriteResult::ReadFailed;

    std::vector<Mapping> map;
    std::uint64_t allocated = 0;
    for (const auto& e : extents) {
        if (e.startVcn < 0 || e.startVcn > kMaxNtfsClusters) {
            readErrors_ = true;  // an extent no volume can have
            continue;
        }
        std::int64_t vcn = e.startVcn;
        for (const auto& r : e.runs) {
            map.push_back({vcn, r});
            vcn += static_cast<std::int64_t>(r.length);
        }
        allocated = std::max<std::uint64_t>(allocated, static_cast<std::uint64_t>(vcn));
    }
    std::uint64_t cs = static_cast<std::uint64_t>(parser_.clusterSize_);
    std::uint64_t realSize = static_cast<std::uint64_t>(std::max<std::int64_t>(data.realSize, 0));
    // A damaged size never makes us write more than the runs hold.
    std::uint64_t bound = allocated * cs;
    if (realSize > bound) {
        realSize = bound;
        readErrors_ = true;
    }
    bool compressed = (data.flags & 0x0001) && data.compressionUnit > 0 && data.compressionUnit <= 8;
    if (compressed) return writeCompressed(map, realSize, 1u << data.compressionUnit, sink);
    std::uint64_t initialized = static_cast<std::uint64_t>(std::max<std::int64_t>(data.initializedSize, 0));
    return writePlain(map, realSize, std::min(initialized, realSize), sink);
}

}  // namespace ondrel
