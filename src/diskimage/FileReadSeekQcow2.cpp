#include "diskimage/FileReadSeekQcow2.h"

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ondrel {

ZstdContext::ZstdContext() : context_(ZSTD_createDCtx()) {}
ZstdContext::~ZstdContext() { ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(context_)); }

namespace {
constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;  // bits 9-55
constexpr std::uint64_t kCompressedFlag = 1ull << 62;
constexpr std::uint64_t kZeroFlag = 1ull;
constexpr std::uint64_t kL2CacheBytes = 64ull << 20;
constexpr std::uint64_t kDecodedCacheBytes = 1ull << 20;
constexpr std::uint32_t kMaxSnapshots = 65536;

constexpr std::uint32_t kExtBackingFormat = 0xE2792ACA;
constexpr std::uint32_t kExtDataFile = 0x44415441;
constexpr std::uint32_t kExtEncryption = 0x0537BE77;
}  // namespace

bool FileReadSeekQcow2::open(const std::string& path, const OpenOptions& options) {
    if (!openFile(path, options)) return false;
    std::vector<std::uint8_t> first(4096);
    std::int64_t got = file_.readAt(0, first.data(), first.size());
    if (got < 72 || !hasText(first, 0, "QFI\xfb")) return fail("Not a qcow2 image: its header is missing or incomplete.");
    first.resize(static_cast<std::size_t>(got));
    header = parseQcow2Header(first);
    if (header.version != 2 && header.version != 3)
        return fail("The qcow2 image has version " + std::to_string(header.version) + "; only versions 2 and 3 can be read.");
    if (header.clusterBits < 9 || header.clusterBits > 21)
        return fail("The qcow2 header names an invalid cluster size (2^" + std::to_string(header.clusterBits) + " bytes).");
    if (header.version == 3 && (header.headerLength < 104 || header.headerLength > first.size()))
        return fail("The qcow2 header is not valid: its length is " + std::to_string(header.headerLength) + " bytes.");
    clusterSize = std::uint64_t(1) << header.clusterBits;
    if (header.cryptMethod != 0)
        return fail("The qcow2 image " + path + " is encrypted (" + (header.cryptMethod == 1 ? "AES" : "LUKS") +
                    "); Ondrel cannot read encrypted images.");
    if (header.incompatibleFeatures & kQcow2ExternalData)
        return fail("The qcow2 image " + path + " keeps its data in an external data file, which Ondrel cannot read.");
    if (std::uint64_t unknown = header.incompatibleFeatures & ~kQcow2KnownIncompatible)
        return fail("The qcow2 image uses features Ondrel does not know (incompatible feature bits 0x" +
                    [&] {
                        char b[20];
                        std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(unknown));
                        return std::string(b);
                    }() +
                    "); it cannot be read safely.");
    if (header.compressionType > 1)
        return fail("The qcow2 image names an unknown compression type (" + std::to_string(header.compressionType) + ").");
    extendedL2 = (header.incompatibleFeatures & kQcow2ExtendedL2) != 0;
    if (extendedL2 && header.clusterBits < 14)
        return fail("The qcow2 image uses extended L2 entries with clusters smaller than 16 KiB, which is not valid.");
    if (header.incompatibleFeatures & kQcow2Corrupt)
        warn("The qcow2 image is marked corrupt by the program that wrote it; some of its data may be wrong.");
    if (header.incompatibleFeatures & kQcow2Dirty)
        warn("The qcow2 image was not closed cleanly; its data is read as it stands.");
    if (!readExtensions(first)) return false;
    l2Entries_ = clusterSize / (extendedL2 ? 16 : 8);
    l2Cache_ = std::make_unique<SharedCache<std::uint64_t, std::vector<std::uint64_t>>>(kL2CacheBytes / clusterSize);
    decoded_ = std::make_unique<SharedCache<std::uint64_t, Inflated>>(std::max<std::uint64_t>(4, kDecodedCacheBytes / clusterSize));

    std::uint64_t size = std::min<std::uint64_t>(header.size, static_cast<std::uint64_t>(kMaxDiskBytes));
    std::uint64_t l1Offset = header.l1TableOffset, l1Entries = header.l1Size;
    readSnapshots();
    const std::string& wanted = options.snapshot;
    if (!wanted.empty()) {
        auto s = std::find_if(snapshots.begin(), snapshots.end(),
                              [&](const Qcow2Snapshot& x) { return x.name == wanted || x.id == wanted; });
        if (s == snapshots.end()) return fail("The qcow2 image has no snapshot named \"" + wanted + "\".");
        openedSnapshot = s->name;
        l1Offset = s->l1TableOffset;
        l1Entries = s->l1Size;
        if (s->diskSize) size = std::min<std::uint64_t>(s->diskSize, static_cast<std::uint64_t>(kMaxDiskBytes));
    }
    if (!loadL1(l1Offset, l1Entries)) return false;
    setSectorCount(options.diskSizeOverride != 0 ? options.diskSizeOverride >> 9 : size / kSectorSize);

    if (header.backingFileOffset != 0 && header.backingFileSize != 0) {
        if (header.backingFileSize > 1023 || header.backingFileOffset >= static_cast<std::uint64_t>(fileLength))
            return fail("The qcow2 header's backing file name is not valid.");
        backingName.assign(header.backingFileSize, '\0');
        if (file_.readAt(static_cast<std::int64_t>(header.backingFileOffset), backingName.data(), backingName.size()) !=
            static_cast<std::int64_t>(backingName.size()))
            return fail("The qcow2 image is truncated: its backing file name is incomplete.");
        if (backingName.rfind("json:", 0) == 0)
            return fail("The qcow2 image names its backing file by a JSON description, which Ondrel cannot follow: " +
                        backingName);
        std::optional<ImageKind> kind;
        if (!backingFormat.empty() && backingFormat != "raw") kind = imageKindFromName(backingFormat);
        else if (backingFormat == "raw") kind = ImageKind::Raw;
        if (!openParent(backingName, kind)) return false;
    }
    return true;
}

bool FileReadSeekQcow2::readExtensions(const std::vector<std::uint8_t>& first) {
    std::size_t at = header.version >= 3 ? header.headerLength : 72;
    while (at + 8 <= first.size()) {
        std::uint32_t type = be32(first, at), length = be32(first, at + 4);
        if (type == 0) break;
        std::size_t data = at + 8;
        if (length > first.size() - data) break;  // runs past what was read: ignore the rest
        if (type == kExtBackingFormat)
            backingFormat.assign(reinterpret_cast<const char*>(first.data() + data), length);
        else if (type == kExtDataFile)
            return fail("The qcow2 image keeps its data in an external data file, which Ondrel cannot read.");
        else if (type == kExtEncryption)
            return fail("The qcow2 image " + path_ + " is encrypted (LUKS); Ondrel cannot read encrypted images.");
        at = data + (static_cast<std::size_t>(length) + 7) / 8 * 8;
    }
    return true;
}

void FileReadSeekQcow2::readSnapshots() {
    if (header.snapshotCount == 0) return;
    if (header.snapshotCount > kMaxSnapshots || header.snapshotsOffset >= static_cast<std::uint64_t>(fileLength)) {
        warn("The qcow2 snapshot table is not valid; snapshots are not listed.");
        return;
    }
    std::uint64_t at = header.snapshotsOffset;
    for (std::uint32_t i = 0; i < header.snapshotCount; ++i) {
        std::uint8_t fixed[40];
        if (file_.readAt(static_cast<std::int64_t>(at), fixed, sizeof fixed) != sizeof fixed) break;
        Bytes b(fixed, sizeof fixed);
        Qcow2Snapshot s;
        s.l1TableOffset = be64(b, 0);
        s.l1Size = be32(b, 8);
        std::uint16_t idSize = be16(b, 12), nameSize = be16(b, 14);
        s.dateSeconds = be32(b, 16);
        std::uint32_t extra = be32(b, 36);
        if (extra > 1024) break;
        std::vector<std::uint8_t> rest(extra + idSize + nameSize);
        if (!rest.empty() &&
            file_.readAt(static_cast<std::int64_t>(at + 40), rest.data(), rest.size()) != static_cast<std::int64_t>(rest.size()))
            break;
        if (extra >= 16) s.diskSize = be64(rest, 8);
        s.id.assign(reinterpret_cast<const char*>(rest.data() + extra), idSize);
        s.name.assign(reinterpret_cast<const char*>(rest.data() + extra + idSize), nameSize);
        snapshots.push_back(std::move(s));
        at += (40 + rest.size() + 7) / 8 * 8;
    }
    if (snapshots.size() < header.snapshotCount) warn("The qcow2 snapshot table is truncated; some snapshots are not listed.");
}

bool FileReadSeekQcow2::loadL1(std::uint64_t offset, std::uint64_t entries) {
    // Only the entries that can map something inside the disk matter.
    std::uint64_t clusters = (std::min<std::uint64_t>(header.size, kMaxDiskBytes) + clusterSize - 1) / clusterSize;
    std::uint64_t needed = (clusters + l2Entries_ - 1) / l2Entries_;
    if (entries > needed) entries = needed;
    std::uint64_t available =
        offset < static_cast<std::uint64_t>(fileLength) ? (static_cast<std::uint64_t>(fileLength) - offset) / 8 : 0;
    if (entries > available) {
        warn("The qcow2 image is truncated: its L1 table is incomplete.");
        entries = available;
    }
    std::vector<std::uint8_t> raw(entries * 8);
    if (!raw.empty() && file_.readAt(static_cast<std::int64_t>(offset), raw.data(), raw.size()) != static_cast<std::int64_t>(raw.size()))
        return fail("The qcow2 L1 table cannot be read.");
    l1_.resize(entries);
    bool beyond = false;
    for (std::uint64_t i = 0; i < entries; ++i) {
        l1_[i] = be64(raw, i * 8) & kOffsetMask;
        if (l1_[i] != 0 && l1_[i] + clusterSize > static_cast<std::uint64_t>(fileLength)) beyond = true;
    }
    if (beyond)
        warn("The qcow2 image is truncated or damaged: some L2 tables lie beyond the end of the file; their data reads as zeros.");
    return true;
}

std::shared_ptr<const std::vector<std::uint64_t>> FileReadSeekQcow2::l2Table(std::uint64_t offset) const {
    return l2Cache_->get(offset, [&] {
        std::vector<std::uint64_t> table;
        std::vector<std::uint8_t> raw(clusterSize);
        if (file_.readAt(static_cast<std::int64_t>(offset), raw.data(), raw.size()) == static_cast<std::int64_t>(raw.size())) {
            table.resize(clusterSize / 8);
            for (std::size_t i = 0; i < table.size(); ++i) table[i] = be64(raw, i * 8);
        }
        return table;
    });
}

ReaderDetails FileReadSeekQcow2::details() const {
    ReaderDetails d;
    d.version = std::to_string(header.version);
    d.add("Cluster size:", std::to_string(clusterSize) + " bytes");
    d.add("Compression:", header.compressionType == 1 ? "zstd" : "deflate");
    if (extendedL2) d.add("Extended L2:", "yes");
    if (!backingFormat.empty()) d.add("Backing format:", backingFormat);
    for (const Qcow2Snapshot& snap : snapshots)
        d.add("Snapshot:", snap.id + " \"" + snap.name + "\" (" + std::to_string(snap.diskSize) + " bytes)");
    if (!openedSnapshot.empty()) d.add("Reading snapshot:", openedSnapshot);
    return d;
}

BlockMappedReader::Mapping FileReadSeekQcow2::mapAt(std::uint64_t a) const {
    Mapping m;
    std::uint64_t inCluster = a & (clusterSize - 1);
    m.length = clusterSize - inCluster;
    if (a >= sectorCount_ * kSectorSize) return m;
    std::uint64_t cluster = a >> header.clusterBits;
    std::uint64_t l1Index = cluster / l2Entries_, l2Index = cluster % l2Entries_;
    m.kind = Kind::Parent;
    if (l1Index >= l1_.size() || l1_[l1Index] == 0) {
        m.length = (l2Entries_ - l2Index) * clusterSize - inCluster;
        return m;
    }
    std::shared_ptr<const std::vector<std::uint64_t>> held = l2Table(l1_[l1Index]);
    const std::vector<std::uint64_t>& table = *held;
    if (table.empty()) {
        m.kind = Kind::Unmapped;
        m.reason = "its L2 table cannot be read";
        return m;
    }
    std::uint64_t entry = table[l2Index * (extendedL2 ? 2 : 1)];
    if (entry & kCompressedFlag) {
        m.kind = Kind::Decoded;
        return m;
    }
    std::uint64_t hostOffset = entry & kOffsetMask;
    if (extendedL2) {
        // 32 subclusters, each allocated, zero or left to the backing file.
        std::uint64_t bitmap = table[l2Index * 2 + 1];
        std::uint64_t subSize = clusterSize / 32, sub = inCluster / subSize;
        auto state = [&](std::uint64_t s) { return ((bitmap >> s) & 1) | (((bitmap >> (32 + s)) & 1) << 1); };
        std::uint64_t first = state(sub), last = sub;
        while (last + 1 < 32 && state(last + 1) == first) ++last;
        m.length = (last + 1) * subSize - inCluster;
        if (first & 1) {
            m.kind = Kind::Data;
            m.fileOffset = static_cast<std::int64_t>(hostOffset + inCluster);
        } else if (first & 2) {
            m.kind = Kind::Zero;
        }
        return m;
    }
    if (header.version >= 3 && (entry & kZeroFlag)) {
        m.kind = Kind::Zero;
    } else if (hostOffset != 0) {
        m.kind = Kind::Data;
        m.fileOffset = static_cast<std::int64_t>(hostOffset + inCluster);
    }
    return m;
}

FileReadSeekQcow2::Inflated FileReadSeekQcow2::decodeCluster(std::uint64_t entry) const {
    auto decoder = decoders_.take([] { return std::make_unique<ClusterDecoder>(); });
    Inflated out{buffers_.take([] { return std::make_unique<std::vector<std::uint8_t>>(); }), false};
    std::vector<std::uint8_t>& decoded = *out.bytes;
    decoded.assign(clusterSize, 0);
    unsigned shift = 62 - (header.clusterBits - 8);
    std::uint64_t hostOffset = entry & ((std::uint64_t(1) << shift) - 1);
    std::uint64_t sectors = ((entry & ~kCompressedFlag) >> shift & ((std::uint64_t(1) << (header.clusterBits - 8)) - 1)) + 1;
    std::vector<std::uint8_t>& packed = decoder->packed;
    packed.resize(sectors * 512 - (hostOffset & 511));
    std::int64_t got = file_.readAt(static_cast<std::int64_t>(hostOffset), packed.data(), packed.size());
    if (got <= 0) return out;
    const auto packedBytes = static_cast<std::size_t>(got);  // the last cluster may end with the file

    if (header.compressionType == 1) {
        auto* dctx = static_cast<ZSTD_DCtx*>(decoder->zstd.get());
        if (!dctx) return out;
        ZSTD_DCtx_reset(dctx, ZSTD_reset_session_only);
        ZSTD_inBuffer in{packed.data(), packedBytes, 0};
        ZSTD_outBuffer into{decoded.data(), decoded.size(), 0};
        while (into.pos < into.size) {
            std::size_t r = ZSTD_decompressStream(dctx, &into, &in);
            if (ZSTD_isError(r)) return out;
            if (r == 0 && in.pos >= in.size) break;
            if (in.pos >= in.size && into.pos < into.size) break;
        }
        out.ok = into.pos == into.size;
        return out;
    }
    std::int64_t produced = decoder->inflater.run(packed.data(), packedBytes, decoded.data(), decoded.size());
    out.ok = produced == static_cast<std::int64_t>(decoded.size());
    return out;
}

std::shared_ptr<const FileReadSeekQcow2::Inflated> FileReadSeekQcow2::decodedCluster(std::uint64_t entry) const {
    return decoded_->get(entry, [&] { return decodeCluster(entry); });
}

bool FileReadSeekQcow2::readDecoded(std::uint64_t a, std::uint8_t* out, std::uint64_t length) const {
    std::uint64_t cluster = a >> header.clusterBits;
    std::shared_ptr<const Inflated> decoded;
    if (cluster / l2Entries_ < l1_.size()) {
        std::shared_ptr<const std::vector<std::uint64_t>> table = l2Table(l1_[cluster / l2Entries_]);
        if (!table->empty()) decoded = decodedCluster((*table)[(cluster % l2Entries_) * (extendedL2 ? 2 : 1)]);
    }
    std::uint64_t inCluster = a & (clusterSize - 1);
    bool ok = decoded && decoded->ok && decoded->bytes->size() == clusterSize && inCluster + length <= clusterSize;
    if (ok) std::memcpy(out, decoded->bytes->data() + inCluster, length);
    else std::memset(out, 0, length);
    return ok;
}

}  // namespace ondrel
