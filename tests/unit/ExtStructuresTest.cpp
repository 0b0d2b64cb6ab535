// ext structures built byte by byte: superblock sizes and group counts, the
// block maps (extent trees of depth 2, unwritten extents, indirect blocks,
// holes, loops), directory blocks with deleted names in slack, inline data.
#include "fs/ext/ExtBlockMap.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace ondrel::test {

namespace {

ByteVector superblock(std::uint64_t blocks, std::uint32_t logBlock, std::uint32_t perGroup, bool is64 = false) {
    ByteVector s(1024, 0);
    putLe(s, 0x00, 2048, 4);  // inodes
    putLe(s, 0x04, blocks & 0xFFFFFFFF, 4);
    putLe(s, 0x14, logBlock == 0 ? 1 : 0, 4);
    putLe(s, 0x18, logBlock, 4);
    putLe(s, 0x20, perGroup, 4);
    putLe(s, 0x28, 256, 4);
    putLe(s, 0x38, 0xEF53, 2);
    putLe(s, 0x4C, 1, 4);
    putLe(s, 0x58, 256, 2);
    putLe(s, 0x60, 0x2 | 0x40 | (is64 ? 0x80 : 0), 4);
    putLe(s, 0xFE, is64 ? 64 : 0, 2);
    putLe(s, 0x150, blocks >> 32, 4);
    return s;
}

// A volume of 1 KiB blocks held in memory for the mapper.
struct Blocks {
    ExtGeometry g;
    std::map<std::uint64_t, ByteVector> data;
    int reads = 0;
    Blocks() {
        g.blockSize = 1024;
        g.blockCount = 1 << 20;
        g.firstDataBlock = 1;
    }
    ExtBlockMapper mapper() {
        return ExtBlockMapper(g, [this](std::uint64_t b, std::vector<std::uint8_t>& out) {
            ++reads;
            out.assign(g.blockSize, 0);
            if (auto it = data.find(b); it != data.end()) out = it->second;
            return true;
        });
    }
    ByteVector& block(std::uint64_t b) {
        auto& d = data[b];
        d.resize(g.blockSize, 0);
        return d;
    }
};

void extentHeader(std::uint8_t* p, int entries, int depth, int max = 4) {
    p[0] = 0x0A, p[1] = 0xF3;
    p[2] = static_cast<std::uint8_t>(entries);
    p[4] = static_cast<std::uint8_t>(max);
    p[6] = static_cast<std::uint8_t>(depth);
}
void leaf(std::uint8_t* p, std::uint32_t logical, std::uint16_t length, std::uint64_t start) {
    ByteVector e(12, 0);
    putLe(e, 0, logical, 4);
    putLe(e, 4, length, 2);
    putLe(e, 6, start >> 32, 2);
    putLe(e, 8, start & 0xFFFFFFFF, 4);
    std::copy(e.begin(), e.end(), p);
}
void index(std::uint8_t* p, std::uint32_t logical, std::uint64_t child) {
    ByteVector e(12, 0);
    putLe(e, 0, logical, 4);
    putLe(e, 4, child & 0xFFFFFFFF, 4);
    putLe(e, 8, child >> 32, 2);
    std::copy(e.begin(), e.end(), p);
}

std::string runsText(const std::vector<ExtRun>& runs) {
    std::string s;
    for (const auto& r : runs)
        s += std::to_string(r.logical) + ":" + std::to_string(r.physical) + "+" + std::to_string(r.count) + (r.zeros ? "z" : "") + " ";
    return s;
}

}  // namespace

TEST(ExtStructuresTest, GroupsCountTheLastPartialGroupAndDescriptorsFollowThe64BitSize) {
    ExtGeometry g;
    std::string why;
    // 2048 blocks of 4 KiB, 32768 per group: one group, not none.
    ASSERT_TRUE(readExtSuperblock(Bytes(superblock(2048, 2, 32768)), 1024, 8 << 20, g, why));
    EXPECT_EQ(g.groupCount, 1u);
    EXPECT_EQ(g.blockSize, 4096u);
    // 100 MiB in 1 KiB blocks: 12.5 groups are 13.
    ASSERT_TRUE(readExtSuperblock(Bytes(superblock(102400, 0, 8192, true)), 1024, 100 << 20, g, why));
    EXPECT_EQ(g.groupCount, 13u);
    EXPECT_EQ(g.descSize, 64u);
    // The volume bounds the groups read, whatever the block count claims.
    ASSERT_TRUE(readExtSuperblock(Bytes(superblock(1ull << 40, 2, 32768, true)), 1024, 1 << 30, g, why));
    EXPECT_EQ(g.groupCount, 8u);
    auto refused = [&](std::size_t off, std::uint64_t v, int width) {
        ByteVector s = superblock(102400, 0, 8192, true);
        putLe(s, off, v, width);
        return !readExtSuperblock(Bytes(s), 1024, 100 << 20, g, why);
    };
    EXPECT_TRUE(refused(0x38, 0xEF54, 2));  // magic
    EXPECT_TRUE(refused(0x18, 7, 4));       // 128 KiB blocks
    EXPECT_TRUE(refused(0x58, 200, 2));     // inode size not a power of two
    EXPECT_TRUE(refused(0xFE, 48, 2));      // descriptor size
    EXPECT_TRUE(refused(0x20, 0, 4));       // no blocks per group
}

TEST(ExtStructuresTest, ExtentTreesOfDepthTwoUnwrittenExtentsAndHoles) {
    Blocks v;
    ExtInode n;
    n.flags = 0x80000;
    extentHeader(n.block.data(), 1, 2);
    index(n.block.data() + 12, 0, 500);
    extentHeader(v.block(500).data(), 2, 1, 84);
    index(v.block(500).data() + 12, 0, 501);
    index(v.block(500).data() + 24, 100, 502);
    extentHeader(v.block(501).data(), 2, 0, 84);
    leaf(v.block(501).data() + 12, 0, 10, 1000);
    leaf(v.block(501).data() + 24, 20, 32768 + 5, 2000);  // unwritten: reads as zeros
    extentHeader(v.block(502).data(), 1, 0, 84);
    leaf(v.block(502).data() + 12, 100, 3, (1ull << 32) + 7);  // a 48-bit start
    v.g.blockCount = (1ull << 33);
    std::vector<ExtRun> runs;
    std::string problem;
    ASSERT_TRUE(v.mapper().map(n, 200, runs, problem)) << problem;
    EXPECT_EQ(runsText(runs), "0:1000+10 20:2000+5z 100:4294967303+3 ");
    // Only what the size covers is read.
    ASSERT_TRUE(v.mapper().map(n, 12, runs, problem));
    EXPECT_EQ(runsText(runs), "0:1000+10 ");
    // A child that is not an extent node, or a depth that does not step down, ends the map.
    extentHeader(v.block(502).data(), 1, 1, 84);
    EXPECT_FALSE(v.mapper().map(n, 200, runs, problem));
    EXPECT_EQ(runsText(runs), "0:1000+10 20:2000+5z ");
}

TEST(ExtStructuresTest, BlockMapsPlaceEachBlockAtItsLogicalNumber) {
    Blocks v;
    ExtInode n;
    ByteVector area(60, 0);
    putLe(area, 0, 100, 4);   // logical 0
    putLe(area, 8, 102, 4);   // logical 2 (1 is a hole)
    putLe(area, 48, 300, 4);  // single indirect
    putLe(area, 56, 400, 4);  // triple indirect; no double: its whole range is a hole
    std::copy(area.begin(), area.end(), n.block.begin());
    putLe(v.block(300), 0, 310, 4);   // logical 12
    putLe(v.block(300), 4, 311, 4);   // logical 13
    putLe(v.block(400), 0, 401, 4);
    putLe(v.block(401), 0, 402, 4);
    putLe(v.block(402), 8, 777, 4);   // logical 12 + 256 + 65536 + 2
    std::vector<ExtRun> runs;
    std::string problem;
    ASSERT_TRUE(v.mapper().map(n, 1 << 20, runs, problem)) << problem;
    EXPECT_EQ(runsText(runs), "0:100+1 2:102+1 12:310+2 65806:777+1 ");
}

TEST(ExtStructuresTest, LoopingIndirectBlocksEnd) {
    Blocks v;
    v.g.blockCount = 1 << 16;
    ExtInode n;
    ByteVector area(60, 0);
    putLe(area, 56, 400, 4);
    std::copy(area.begin(), area.end(), n.block.begin());
    for (int i = 0; i < 256; ++i) putLe(v.block(400), static_cast<std::size_t>(i) * 4, 400, 4);  // every pointer to itself
    std::vector<ExtRun> runs;
    std::string problem;
    v.mapper().map(n, 1ull << 40, runs, problem);
    EXPECT_LE(v.reads, 1 << 16);
    EXPECT_FALSE(runs.empty());
}

TEST(ExtStructuresTest, DirectoryBlocksGiveLiveNamesAndTheDeletedOnesInSlack) {
    ByteVector b(1024, 0);
    auto entry = [&](std::size_t at, std::uint32_t inode, std::uint16_t rec, const std::string& name, std::uint8_t type) {
        putLe(b, at, inode, 4);
        putLe(b, at + 4, rec, 2);
        b[at + 6] = static_cast<std::uint8_t>(name.size());
        b[at + 7] = type;
        std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 8));
    };
    entry(0, 2, 12, ".", 2);
    entry(12, 2, 12, "..", 2);
    entry(24, 12, 40, "kept.txt", 1);        // its record swallowed the next one
    entry(40, 13, 24, "removed.txt", 1);     // deleted, in kept.txt's slack
    entry(64, 14, 960, "last", 2);
    ExtDirOptions o;
    o.inodeCount = 100;
    std::vector<std::string> seen;
    parseDirectoryBlock(Bytes(b), o, [&](const ExtDirEntry& e) { seen.push_back(e.name + (e.deleted ? "*" : "")); });
    EXPECT_EQ(seen, (std::vector<std::string>{".", "..", "kept.txt", "removed.txt*", "last"}));
    // An indexed folder's first block: what follows ".." is the hash index, not names.
    entry(12, 2, 1012, "..", 2);
    entry(40, 13, 24, "hashdata", 1);
    o.indexRoot = true;
    seen.clear();
    parseDirectoryBlock(Bytes(b), o, [&](const ExtDirEntry& e) { seen.push_back(e.name); });
    EXPECT_EQ(seen, (std::vector<std::string>{".", ".."}));
    // A record length that leaves the block ends the walk of the block.
    putLe(b, 4, 2000, 2);
    seen.clear();
    parseDirectoryBlock(Bytes(b), o, [&](const ExtDirEntry& e) { seen.push_back(e.name); });
    EXPECT_TRUE(seen.empty());
}

TEST(ExtStructuresTest, InlineDataSpillsIntoTheSystemDataAttribute) {
    ByteVector raw(256, 0);
    putLe(raw, 0x00, 0x81A4, 2);
    putLe(raw, 0x04, 70, 4);
    putLe(raw, 0x1A, 1, 2);
    putLe(raw, 0x20, 0x10000000, 4);
    for (int i = 0; i < 60; ++i) raw[0x28 + static_cast<std::size_t>(i)] = 'a';
    putLe(raw, 0x80, 32, 2);                 // i_extra_isize
    std::size_t h = 0x80 + 32;
    putLe(raw, h, 0xEA020000, 4);
    std::size_t e = h + 4;
    raw[e] = 4;                              // name length
    raw[e + 1] = 7;                          // "system."
    putLe(raw, e + 2, 40, 2);                // value offset from the first entry
    putLe(raw, e + 8, 10, 4);                // value size
    std::copy_n("data", 4, raw.begin() + static_cast<std::ptrdiff_t>(e + 16));
    std::copy_n("bbbbbbbbbb", 10, raw.begin() + static_cast<std::ptrdiff_t>(e + 40));
    ExtInode n = decodeInode(Bytes(raw));
    EXPECT_TRUE(n.hasInlineData());
    EXPECT_EQ(std::string(n.inlineTail.begin(), n.inlineTail.end()), "bbbbbbbbbb");
    // A value that runs past the inode is not taken.
    putLe(raw, e + 8, 1000, 4);
    EXPECT_TRUE(decodeInode(Bytes(raw)).inlineTail.empty());
}

}  // namespace ondrel::test
