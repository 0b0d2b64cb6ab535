#include "fs/hfsplus/HfsCompressed.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace ondrel {

namespace {
constexpr std::uint64_t kBlock = 0x10000;             // each resource-fork block expands to 64 KiB
constexpr std::uint64_t kMaxSize = 1ull << 40;        // what we agree to expand a file to
constexpr std::uint32_t kMaxCompressedBlock = 1u << 20;

// Inflates a whole zlib stream into the sink, at most limit bytes; false when
// the stream is damaged or ends short of limit.
bool inflateTo(Bytes in, std::uint64_t limit, DataSink& sink, bool& sinkFailed) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    std::vector<std::uint8_t> out(kBlock);
    std::uint64_t written = 0;
    int rc = Z_OK;
    while (rc == Z_OK && written < limit) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        std::uint64_t produced = out.size() - z.avail_out;
        produced = std::min(produced, limit - written);
        if (produced > 0 && !sink.write(out.data(), static_cast<std::size_t>(produced))) {
            sinkFailed = true;
            break;
        }
        written += produced;
        if (produced == 0 && rc == Z_OK && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    return !sinkFailed && written == limit;
}

// A chunk whose first byte is 0xFF (the low nibble 0xF) is stored as is.
bool storedRaw(Bytes chunk) { return !chunk.empty() && (chunk[0] & 0x0F) == 0x0F; }

const char* methodName(std::uint32_t method) {
    switch (method) {
    case 7: case 8: return "LZVN";
    case 11: case 12: return "LZFSE";
    case 5: return "an unknown method (5)";
    default: return nullptr;
    }
}
}  // namespace

DecmpfsHeader decodeDecmpfs(Bytes a) {
    DecmpfsHeader h;
    h.valid = a.size() >= 16 && a[0] == 'f' && a[1] == 'p' && a[2] == 'm' && a[3] == 'c';
    h.method = le32(a, 4);
    h.size = le64(a, 8);
    return h;
}

std::string undecompressable(Bytes attribute) {
    DecmpfsHeader h = decodeDecmpfs(attribute);
    if (!h.valid) return "compressed, but its com.apple.decmpfs attribute is missing or damaged";
    if (h.size > kMaxSize)
        return "compressed, with an uncompressed size of " + std::to_string(h.size) + " bytes, which cannot be right";
    if (h.method == 1 || h.method == 3 || h.method == 4) return {};
    if (const char* name = methodName(h.method)) return std::string("compressed with ") + name + ", which Ondrel cannot decompress";
    return "compressed with method " + std::to_string(h.method) + ", which Ondrel cannot decompress";
}

WriteResult writeDecompressed(Bytes attribute, std::uint64_t resourceSize, const ResourceReader& resource,
                              DataSink& sink, std::string& reason) {
    reason = undecompressable(attribute);
    if (!reason.empty()) return WriteResult::NoData;
    DecmpfsHeader h = decodeDecmpfs(attribute);
    bool sinkFailed = false;
    Bytes payload = attribute.subspan(16);
    switch (h.method) {
    case 1:  // stored in the attribute
    case 3:  // zlib in the attribute
        if (h.method == 1 || storedRaw(payload)) {
            Bytes raw = h.method == 1 ? payload : payload.subspan(1);
            std::uint64_t n = std::min<std::uint64_t>(raw.size(), h.size);
            if (n > 0 && !sink.write(raw.data(), static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
            return n == h.size ? WriteResult::Written : WriteResult::ReadFailed;
        }
        if (inflateTo(payload, h.size, sink, sinkFailed)) return WriteResult::Written;
        return sinkFailed ? WriteResult::WriteFailed : WriteResult::ReadFailed;
    case 4: {  // zlib blocks in the resource fork
        std::uint8_t head[16];
        if (resourceSize < 16 || !resource(0, head, 16)) {
            reason = "compressed into its resource fork, which cannot be read";
            return WriteResult::ReadFailed;
        }
        const std::uint64_t dataOffset = be32(Bytes(head, 16), 0);
        const std::uint64_t blocks = (h.size + kBlock - 1) / kBlock;
        const std::uint64_t tableAt = dataOffset + 4;
        std::uint8_t countBytes[4];
        if (tableAt + 4 > resourceSize || !resource(tableAt, countBytes, 4) || le32(Bytes(countBytes, 4), 0) < blocks ||
            tableAt + 4 + blocks * 8 > resourceSize) {
            reason = "compressed into its resource fork, whose block table is damaged";
            return WriteResult::ReadFailed;
        }
        std::vector<std::uint8_t> table(static_cast<std::size_t>(blocks * 8));
        if (!table.empty() && !resource(tableAt + 4, table.data(), table.size())) {
            reason = "compressed into its resource fork, whose block table cannot be read";
            return WriteResult::ReadFailed;
        }
        bool complete = true;
        std::vector<std::uint8_t> chunk;
        std::uint64_t written = 0;
        for (std::uint64_t i = 0; i < blocks; ++i) {
            const std::uint64_t want = std::min(kBlock, h.size - written);
            const std::uint64_t at = tableAt + le32(Bytes(table), static_cast<std::size_t>(i * 8));
            const std::uint32_t length = le32(Bytes(table), static_cast<std::size_t>(i * 8 + 4));
            bool ok = length > 0 && length <= kMaxCompressedBlock && at + length <= resourceSize;
            if (ok) {
                chunk.resize(length);
                ok = resource(at, chunk.data(), length);
            }
            std::uint64_t before = written;
            if (ok && storedRaw(Bytes(chunk))) {
                std::uint64_t n = std::min<std::uint64_t>(length - 1, want);
                if (!sink.write(chunk.data() + 1, static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
                written += n;
                ok = n == want;
            } else if (ok) {
                struct Counting : DataSink {
                    DataSink& to;
                    std::uint64_t& n;
                    Counting(DataSink& t, std::uint64_t& c) : to(t), n(c) {}
                    bool write(const std::uint8_t* d, std::size_t c) override {
                        n += c;
                        return to.write(d, c);
                    }
                } counting(sink, written);
                ok = inflateTo(Bytes(chunk), want, counting, sinkFailed);
                if (sinkFailed) return WriteResult::WriteFailed;
            }
            if (!ok) {
                // A damaged block is zeros in its place, so later blocks stay where they belong.
                complete = false;
                static const std::vector<std::uint8_t> zeros(kBlock, 0);
                std::uint64_t pad = before + want - written;
                if (pad > 0 && !sink.write(zeros.data(), static_cast<std::size_t>(pad))) return WriteResult::WriteFailed;
                written = before + want;
            }
        }
        return complete ? WriteResult::Written : WriteResult::ReadFailed;
    }
    default:
        return WriteResult::NoData;
    }
}

}  // namespace ondrel
