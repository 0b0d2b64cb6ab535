// HFS+ cases built byte by byte: hard links through the private metadata
// folder, zlib-compressed files (in the attribute and in the resource fork),
// methods that cannot be decompressed, overflow records of both forks,
// damaged nodes and extents, a lost primary header, and the Deep sweep's
// placing of records whose folders are gone.
#include "diskimage/MemoryReader.h"
#include "fs/hfsplus/HfsAdapter.h"
#include "results/SaveWalk.h"
#include "results/ScanDriver.h"
#include "results/Search.h"
#include "unit/AdapterPaths.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"
#include "unit/TinyHfs.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

namespace ondrel::test {

namespace {

struct Scanned {
    std::unique_ptr<MemoryReader> reader;
    std::unique_ptr<HfsAdapter> adapter;
    RecordingObserver observer;
    std::map<std::string, EntryId> paths;
    bool ok = false;

    std::string content(const std::string& path) {
        std::vector<std::uint8_t> out;
        EXPECT_TRUE(paths.count(path)) << path;
        adapter->readContent(paths[path], out, 1 << 24);
        return std::string(out.begin(), out.end());
    }
};

std::unique_ptr<Scanned> scan(const TinyHfs& fs, RecoveryMode mode = RecoveryMode::Standard) {
    auto s = std::make_unique<Scanned>();
    s->reader = std::make_unique<MemoryReader>(fs.d);
    s->adapter = std::make_unique<HfsAdapter>(*s->reader, VolumeRecord{"HFS+", "", "0", "0", 0});
    ScanDriver driver(*s->adapter, s->observer);
    s->ok = driver.run(mode);
    s->paths = reachablePaths(*s->adapter);
    return s;
}

std::string pattern(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed) + i / 97) % 26);
    return s;
}

std::vector<std::uint8_t> zlibOf(const std::string& s) {
    uLongf n = compressBound(s.size());
    std::vector<std::uint8_t> out(n);
    compress(out.data(), &n, reinterpret_cast<const Bytef*>(s.data()), s.size());
    out.resize(n);
    return out;
}

std::vector<std::uint8_t> decmpfs(std::uint32_t method, std::uint64_t size, const std::vector<std::uint8_t>& payload = {}) {
    std::vector<std::uint8_t> a{'f', 'p', 'm', 'c'};
    for (int i = 0; i < 4; ++i) a.push_back(static_cast<std::uint8_t>(method >> (8 * i)));
    for (int i = 0; i < 8; ++i) a.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    a.insert(a.end(), payload.begin(), payload.end());
    return a;
}

const std::u16string kDecmpfs = u"com.apple.decmpfs";

}  // namespace

TEST(HfsEdgeCaseTest, HardLinkIsSavedFromItsInodeFileAndTheMetadataFolderIsHidden) {
    TinyHfs fs;
    fs.folder(18, 2, std::u16string(u"\0\0\0\0HFS+ Private Data", 21));
    fs.write(16, std::string("the linked data"));
    fs.file({.id = 19, .parent = 18, .name = u"iNode77", .size = 15, .extents = {{16, 1}}});
    fs.file({.id = 20, .parent = 2, .name = u"link.txt", .type = 0x686C6E6B, .creator = 0x6866732B, .special = 77});
    fs.file({.id = 21, .parent = 2, .name = u"dangling", .type = 0x686C6E6B, .creator = 0x6866732B, .special = 5});
    auto s = scan(fs);
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(s->content("/link.txt"), "the linked data");
    EXPECT_EQ(s->adapter->size(s->paths["/link.txt"]), 15u);
    EXPECT_EQ(s->paths.size(), 2u) << "the private folder and its iNode files are not listed";
    EntryId dangling = s->paths["/dangling"];
    TempDir out;
    EXPECT_EQ(s->adapter->writeFile(dangling, out.path().string() + "/d"), WriteResult::NoData);
    EXPECT_NE(s->adapter->writeFailureText(dangling, WriteResult::NoData).find("iNode5"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out.path().string() + "/d"));
}

TEST(HfsEdgeCaseTest, CompressedFilesAreDecompressedFromTheAttributeAndTheResourceFork) {
    TinyHfs fs;
    // zlib in the attribute, and a small one stored raw behind 0xFF.
    const std::string small = pattern(3000, 1);
    fs.file({.id = 20, .parent = 2, .name = u"inline.txt", .ownerFlags = 0x20});
    fs.attribute(20, kDecmpfs, decmpfs(3, small.size(), zlibOf(small)));
    std::vector<std::uint8_t> raw{0xFF, 'r', 'a', 'w'};
    fs.file({.id = 21, .parent = 2, .name = u"raw.txt", .ownerFlags = 0x20});
    fs.attribute(21, kDecmpfs, decmpfs(3, 3, raw));
    // zlib blocks of 64 KiB in the resource fork: one compressed, one stored.
    const std::string big = pattern(65536 + 5000, 2);
    std::vector<std::uint8_t> b1 = zlibOf(big.substr(0, 65536));
    std::vector<std::uint8_t> b2{0xFF};
    b2.insert(b2.end(), big.begin() + 65536, big.end());
    std::vector<std::uint8_t> fork(0x104, 0);
    putBe(fork, 0, 0x100, 4);
    const std::size_t table = 0x104;
    fork.resize(table + 4 + 16);
    fork[table] = 2;
    std::uint32_t first = 4 + 16, second = first + static_cast<std::uint32_t>(b1.size());
    auto le = [&](std::size_t o, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) fork[o + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    le(table + 4, first);
    le(table + 8, static_cast<std::uint32_t>(b1.size()));
    le(table + 12, second);
    le(table + 16, static_cast<std::uint32_t>(b2.size()));
    fork.insert(fork.end(), b1.begin(), b1.end());
    fork.insert(fork.end(), b2.begin(), b2.end());
    fs.write(20, fork);
    const std::uint32_t forkBlocks = static_cast<std::uint32_t>((fork.size() + 4095) / 4096);
    fs.file({.id = 22, .parent = 2, .name = u"fork.bin", .ownerFlags = 0x20, .resource = {{20, forkBlocks}},
             .resourceSize = fork.size()});
    fs.attribute(22, kDecmpfs, decmpfs(4, big.size()));
    auto s = scan(fs);
    EXPECT_EQ(s->content("/inline.txt"), small);
    EXPECT_EQ(s->adapter->size(s->paths["/inline.txt"]), small.size());
    EXPECT_EQ(s->content("/raw.txt"), "raw");
    EXPECT_EQ(s->content("/fork.bin"), big);
}

TEST(HfsEdgeCaseTest, MethodsThatCannotBeDecompressedAreListedAndReportedNotSaved) {
    TinyHfs fs;
    fs.file({.id = 20, .parent = 2, .name = u"lzfse.txt", .ownerFlags = 0x20});
    fs.attribute(20, kDecmpfs, decmpfs(11, 1234, {1, 2, 3}));
    fs.file({.id = 21, .parent = 2, .name = u"no-attribute.txt", .ownerFlags = 0x20});
    auto s = scan(fs);
    ASSERT_EQ(s->paths.size(), 2u);
    EXPECT_EQ(s->adapter->size(s->paths["/lzfse.txt"]), 1234u);
    TempDir out;
    SaveWalk walk(*s->adapter, s->observer);
    walk.askFirst = false;
    SaveOutcome o = walk.saveFolder(s->adapter->rootEntry(), out.path().string());
    EXPECT_EQ(o.saved, 0);
    EXPECT_EQ(o.failed, 2);
    std::string all;
    for (const std::string& f : o.failures) all += f + "\n";
    EXPECT_NE(all.find("lzfse.txt: compressed with LZFSE"), std::string::npos) << all;
    EXPECT_NE(all.find("no-attribute.txt: compressed, but its com.apple.decmpfs attribute is missing"), std::string::npos) << all;
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
}

TEST(HfsEdgeCaseTest, DataForkOverflowIsFollowedAndResourceForkRecordsDoNotReplaceIt) {
    TinyHfs fs;
    std::string data = pattern(3 * 4096, 3);
    fs.write(16, data.substr(0, 4096));
    fs.write(20, data.substr(4096, 4096));
    fs.write(24, data.substr(8192));
    fs.write(30, std::string(4096, 'R'));
    fs.file({.id = 20, .parent = 2, .name = u"split.bin", .size = data.size(), .extents = {{16, 1}}, .totalBlocks = 3});
    // The resource fork's record carries the same file ID and start block.
    fs.overflow(20, 0xFF, 1, {{30, 2}});
    fs.overflow(20, 0x00, 1, {{20, 1}, {24, 1}});
    auto s = scan(fs);
    EXPECT_EQ(s->content("/split.bin"), data);
}

TEST(HfsEdgeCaseTest, DamagedNodesAndExtentsEndCleanlyWithWhatCanBeRead) {
    TinyHfs fs;
    fs.write(16, std::string("fine"));
    fs.file({.id = 20, .parent = 2, .name = u"fine.txt", .size = 4, .extents = {{16, 1}}});
    // An extent count far past the volume, and a size to match.
    fs.file({.id = 21, .parent = 2, .name = u"huge.bin", .size = 0xFFFFFFFFull * 4096, .extents = {{17, 0xFFFFFFFF}}});
    // An overflow record that adds no blocks must not be followed for ever.
    fs.file({.id = 22, .parent = 2, .name = u"stuck.bin", .size = 8192, .extents = {{16, 1}}, .totalBlocks = 5});
    fs.overflow(22, 0, 1, {{0, 0}});
    // Node 2: a record count far beyond the node; node 3: a key length past its end.
    fs.file({.id = 23, .parent = 2, .name = u"in-node-2.txt", .size = 4, .extents = {{16, 1}}}, 2);
    putBe(fs.d, fs.nodeAt(3, 2) + 10, 0xFFFF, 2);
    fs.file({.id = 24, .parent = 2, .name = u"broken-key", .size = 4, .extents = {{16, 1}}}, 3);
    putBe(fs.d, fs.nodeAt(3, 3) + 14, 0xFFF0, 2);
    auto s = scan(fs);
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(s->content("/fine.txt"), "fine");
    EXPECT_FALSE(s->paths.count("/broken-key"));
    TempDir out;
    EXPECT_EQ(s->adapter->writeFile(s->paths["/huge.bin"], out.path().string() + "/huge"), WriteResult::ReadFailed);
    EXPECT_LE(std::filesystem::file_size(out.path().string() + "/huge"), fs.d.size());
    EXPECT_EQ(s->adapter->writeFile(s->paths["/stuck.bin"], out.path().string() + "/stuck"), WriteResult::ReadFailed);
    EXPECT_EQ(std::filesystem::file_size(out.path().string() + "/stuck"), 8192u) << "missing blocks are zeros in their place";
}

TEST(HfsEdgeCaseTest, DeepModeUsesTheAlternateHeaderAndPlacesRecordsWhoseFolderIsGone) {
    TinyHfs fs;
    fs.folder(16, 2, u"kept");
    fs.write(16, std::string("child"));
    fs.file({.id = 17, .parent = 16, .name = u"child.txt", .size = 5, .extents = {{16, 1}}});
    // Folder 30 and the folder 40 lived in are gone; 41's folder too.
    fs.folder(40, 99, u"lost-folder");
    fs.file({.id = 41, .parent = 98, .name = u"lost-file", .size = 5, .extents = {{16, 1}}});
    fs.file({.id = 42, .parent = 40, .name = u"inside", .size = 5, .extents = {{16, 1}}});
    std::memset(fs.d.data() + 1024, 0, 512);
    auto standard = scan(fs);
    EXPECT_FALSE(standard->ok);
    EXPECT_TRUE(standard->observer.saw("Running process Aborted...."));
    auto s = scan(fs, RecoveryMode::Deep);
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(s->content("/kept/child.txt"), "child");
    EXPECT_TRUE(s->paths.count("/ORPHAN_ENTRY/lost-folder/inside"));
    // A file whose folder is gone goes to the folder with the next lower ID.
    EXPECT_TRUE(s->paths.count("/ORPHAN_ENTRY/lost-folder/lost-file"));
}

TEST(HfsEdgeCaseTest, DeepSweepReadsNodesWhereTheyAreFound) {
    TinyHfs fs;
    fs.write(16, std::string("odd"));
    fs.file({.id = 20, .parent = 2, .name = u"moved.txt", .size = 3, .extents = {{16, 1}}}, 2);
    // The leaf moved to block 33: no node number leads there.
    std::memcpy(fs.d.data() + 33 * 4096, fs.d.data() + fs.nodeAt(3, 2), 4096);
    std::memset(fs.d.data() + fs.nodeAt(3, 2), 0, 4096);
    auto s = scan(fs, RecoveryMode::Deep);
    EXPECT_EQ(s->content("/moved.txt"), "odd");
}

TEST(HfsEdgeCaseTest, SearchFindsDecomposedNamesFromComposedInput) {
    TinyHfs fs;
    fs.file({.id = 20, .parent = 2, .name = u"cafe\u0301.txt"});
    auto s = scan(fs);
    ASSERT_TRUE(s->paths.count("/cafe\xcc\x81.txt")) << "listed as stored";
    WorkControl control;
    EXPECT_EQ(searchNames(*s->adapter, "caf\xc3\xa9", s->observer, control).hits.size(), 1u);
    EXPECT_EQ(searchNames(*s->adapter, "cafe\xcc\x81", s->observer, control).hits.size(), 1u);
}

}  // namespace ondrel::test

namespace ondrel::test {

TEST(HfsEdgeCaseTest, TheFirstRecordOfAnIdWinsAndNoOtherRecordIsLost) {
    TinyHfs fs;
    fs.write(16, std::string("data"));
    for (std::uint32_t id = 40; id < 60; ++id)
        fs.file({.id = id, .parent = 2, .name = u"f" + std::u16string(1, char16_t(u'a' + (id - 40))), .size = 4,
                 .extents = {{16, 1}}}, id % 2 ? 2 : 3);
    // The same IDs again, later in the walk, with other names.
    fs.file({.id = 45, .parent = 2, .name = u"second-45", .size = 4, .extents = {{16, 1}}}, 3);
    fs.file({.id = 52, .parent = 2, .name = u"second-52", .size = 4, .extents = {{16, 1}}}, 3);
    fs.file({.id = 41, .parent = 2, .name = u"first-41"}, 1);
    fs.file({.id = 41, .parent = 2, .name = u"second-41"}, 2);
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        auto s = scan(fs, mode);
        EXPECT_EQ(s->paths.size(), 20u);
        EXPECT_TRUE(s->paths.count("/first-41"));
        EXPECT_TRUE(s->paths.count("/ff"));  // ID 45, node 2
        EXPECT_TRUE(s->paths.count("/fm"));  // ID 52, node 3
        EXPECT_FALSE(s->paths.count("/second-45") || s->paths.count("/second-52") || s->paths.count("/second-41"));
        EXPECT_EQ(s->content("/fa"), "data");
    }
}

}  // namespace ondrel::test
