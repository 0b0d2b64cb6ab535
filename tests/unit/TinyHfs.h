#pragma once
// A small HFS+ volume built byte by byte, for what no Debian tool writes:
// hard links, compressed files, overflow records of both forks, damaged
// nodes, a lost primary header, catalog nodes away from their B-tree.
#include "unit/TestSupport.h"

#include <cstring>
#include <string>
#include <vector>

namespace ondrel::test {

inline void putBe(ByteVector& d, std::size_t off, std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) d.at(off + bytes - 1 - i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// 4 KiB blocks and nodes. Block 0 holds the volume header, block 1 the
// extents-overflow header node and block 2 its leaf, blocks 3 to 6 the catalog
// (header node and leaves 1 to 3), blocks 7 and 8 the attributes file; data
// from block 16 on. The last block holds the alternate header.
class TinyHfs {
public:
    static constexpr std::uint32_t kBlock = 4096;
    struct Extent {
        std::uint32_t start, count;
    };
    struct File {
        std::uint32_t id, parent;
        std::u16string name;
        std::uint64_t size = 0;
        std::vector<Extent> extents = {};  // at most eight
        std::uint32_t totalBlocks = 0;  // 0: what the extents hold
        std::uint8_t ownerFlags = 0;
        std::uint32_t type = 0, creator = 0, special = 0;
        std::vector<Extent> resource = {};
        std::uint64_t resourceSize = 0;
        std::uint16_t mode = 0100644;
        std::uint32_t modified = 3800000000u;
    };

    explicit TinyHfs(std::uint32_t blocks = 64) : total(blocks), d(static_cast<std::size_t>(blocks) * kBlock, 0) {
        header(1024);
        treeHeader(kBlock * 1, 2, 1, 2);  // extents overflow: header and one leaf
        treeHeader(kBlock * 3, 4, 3, 4);  // catalog
        treeHeader(kBlock * 7, 2, 7, 8);  // attributes
        for (int n : {1, 2, 3}) leaf(3, n);
        leaf(1, 1);
        leaf(7, 1);
        folder(2, 1, u"Tiny");
    }

    void folder(std::uint32_t id, std::uint32_t parent, const std::u16string& name, int node = 1) {
        std::vector<std::uint8_t> r(88, 0);
        put16(r, 0, 1);
        put32(r, 8, id);
        put16(r, 42, 040755);
        record(3, node, catalogKey(parent, name), r);
    }

    void file(const File& f, int node = 1) {
        std::vector<std::uint8_t> r(248, 0);
        put16(r, 0, 2);
        put32(r, 8, f.id);
        put32(r, 12, f.modified - 100);
        put32(r, 16, f.modified);
        put32(r, 20, f.modified + 50);
        put32(r, 24, f.modified + 10);
        r[41] = f.ownerFlags;
        put16(r, 42, f.mode);
        put32(r, 44, f.special);
        put32(r, 48, f.type);
        put32(r, 52, f.creator);
        fork(r, 88, f.size, f.extents, f.totalBlocks);
        fork(r, 168, f.resourceSize, f.resource, 0);
        record(3, node, catalogKey(f.parent, f.name), r);
    }

    // An extents-overflow record: eight extents continuing a fork from startBlock.
    void overflow(std::uint32_t id, std::uint8_t forkType, std::uint32_t startBlock, const std::vector<Extent>& e) {
        std::vector<std::uint8_t> key(12, 0);
        put16(key, 0, 10);
        key[2] = forkType;
        put32(key, 4, id);
        put32(key, 8, startBlock);
        std::vector<std::uint8_t> r(64, 0);
        for (std::size_t i = 0; i < e.size() && i < 8; ++i) {
            put32(r, i * 8, e[i].start);
            put32(r, i * 8 + 4, e[i].count);
        }
        record(1, 1, key, r);
    }

    // An inline attribute record.
    void attribute(std::uint32_t id, const std::u16string& name, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> key(14 + 2 * name.size(), 0);
        put16(key, 0, static_cast<std::uint16_t>(key.size() - 2));
        put32(key, 4, id);
        put16(key, 12, static_cast<std::uint16_t>(name.size()));
        for (std::size_t i = 0; i < name.size(); ++i) put16(key, 14 + 2 * i, name[i]);
        std::vector<std::uint8_t> r(16, 0);
        put32(r, 0, 0x10);
        put32(r, 12, static_cast<std::uint32_t>(data.size()));
        r.insert(r.end(), data.begin(), data.end());
        record(7, 1, key, r);
    }

    void write(std::uint32_t block, const std::string& bytes) { std::memcpy(d.data() + block * std::size_t(kBlock), bytes.data(), bytes.size()); }
    void write(std::uint32_t block, const std::vector<std::uint8_t>& bytes) {
        std::memcpy(d.data() + block * std::size_t(kBlock), bytes.data(), bytes.size());
    }
    std::size_t nodeAt(int fileStart, int node) const { return (static_cast<std::size_t>(fileStart) + node) * kBlock; }

    std::uint32_t total;
    ByteVector d;

private:
    static void put16(std::vector<std::uint8_t>& v, std::size_t o, std::uint32_t x) { putBe(v, o, x, 2); }
    static void put32(std::vector<std::uint8_t>& v, std::size_t o, std::uint32_t x) { putBe(v, o, x, 4); }

    void header(std::size_t at) {
        d[at] = 'H', d[at + 1] = '+';
        putBe(d, at + 2, 4, 2);
        putBe(d, at + 0x28, kBlock, 4);
        putBe(d, at + 0x2C, total, 4);
        auto forkAt = [&](std::size_t off, std::uint32_t start, std::uint32_t count) {
            putBe(d, at + off, static_cast<std::uint64_t>(count) * kBlock, 8);
            putBe(d, at + off + 12, count, 4);
            putBe(d, at + off + 16, start, 4);
            putBe(d, at + off + 20, count, 4);
        };
        forkAt(0xC0, 1, 2);
        forkAt(0x110, 3, 4);
        forkAt(0x160, 7, 2);
        std::memcpy(d.data() + (total * std::size_t(kBlock) - 1024), d.data() + at, 512);
    }

    void treeHeader(std::size_t at, std::uint32_t nodes, std::uint32_t, std::uint32_t) {
        d[at + 8] = 1;  // header node
        putBe(d, at + 10, 3, 2);
        putBe(d, at + 32, kBlock, 2);  // node size
        putBe(d, at + 36, nodes, 4);   // total nodes
        putBe(d, at + kBlock - 2, 14, 2);
        putBe(d, at + kBlock - 4, 120, 2);
        putBe(d, at + kBlock - 6, 248, 2);
        putBe(d, at + kBlock - 8, kBlock - 8, 2);
        d[at + 248] = 0xFF;  // every node in use
    }

    void leaf(int fileStart, int node) {
        std::size_t at = nodeAt(fileStart, node);
        d[at + 8] = 0xFF;
        d[at + 9] = 1;
        putBe(d, at + kBlock - 2, 14, 2);
    }

    std::vector<std::uint8_t> catalogKey(std::uint32_t parent, const std::u16string& name) {
        std::vector<std::uint8_t> k(8 + 2 * name.size(), 0);
        put16(k, 0, static_cast<std::uint16_t>(k.size() - 2));
        put32(k, 2, parent);
        put16(k, 6, static_cast<std::uint16_t>(name.size()));
        for (std::size_t i = 0; i < name.size(); ++i) put16(k, 8 + 2 * i, name[i]);
        return k;
    }

    static void fork(std::vector<std::uint8_t>& r, std::size_t o, std::uint64_t size, const std::vector<Extent>& e,
                     std::uint32_t totalBlocks) {
        putBe(r, o, size, 8);
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < e.size() && i < 8; ++i) {
            putBe(r, o + 16 + i * 8, e[i].start, 4);
            putBe(r, o + 20 + i * 8, e[i].count, 4);
            sum += e[i].count;
        }
        putBe(r, o + 12, totalBlocks ? totalBlocks : sum, 4);
    }

    // Appends a record (key then data) to a node: records are packed after
    // the last one, the offsets table grows from the end.
    void record(int fileStart, int node, const std::vector<std::uint8_t>& key, const std::vector<std::uint8_t>& data) {
        std::size_t at = nodeAt(fileStart, node);
        std::size_t count = static_cast<std::size_t>(d[at + 10]) << 8 | d[at + 11];
        std::size_t start = static_cast<std::size_t>(d[at + kBlock - 2 - 2 * count]) << 8 | d[at + kBlock - 1 - 2 * count];
        std::memcpy(d.data() + at + start, key.data(), key.size());
        std::memcpy(d.data() + at + start + key.size(), data.data(), data.size());
        ++count;
        putBe(d, at + 10, count, 2);
        putBe(d, at + kBlock - 2 - 2 * count, start + key.size() + data.size(), 2);
    }
};

}  // namespace ondrel::test
