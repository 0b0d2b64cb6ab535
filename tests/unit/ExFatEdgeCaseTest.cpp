// exFAT cases built byte by byte: entry sets across cluster ends, fragmented
// and NoFatChain folders, reused sets, looping chains, deleted files whose FAT
// entries are cleared, time zones, hostile boot sectors and the advanced mode.
#include "diskimage/MemoryReader.h"
#include "fs/exfat/ExFatAdapter.h"
#include "fs/exfat/ExFatBootSector.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"
#include "unit/TinyExFat.h"

#include <gtest/gtest.h>

namespace ondrel::test {

namespace {

struct Scanned {
    std::unique_ptr<MemoryReader> reader;
    std::unique_ptr<ExFatAdapter> adapter;
    RecordingObserver observer;
    std::map<std::string, EntryId> paths;

    std::string content(const std::string& path) {
        std::vector<std::uint8_t> out;
        EXPECT_TRUE(paths.count(path)) << path;
        adapter->readContent(paths[path], out, 1 << 24);
        return std::string(out.begin(), out.end());
    }
};

std::unique_ptr<Scanned> scan(const TinyExFat& fs, RecoveryMode mode = RecoveryMode::Standard, int shiftChoice = -1,
                              bool formatted = false) {
    auto s = std::make_unique<Scanned>();
    s->reader = std::make_unique<MemoryReader>(fs.d);
    s->adapter = std::make_unique<ExFatAdapter>(*s->reader, VolumeRecord{"FAT64", "", "0", "1", 0});
    s->adapter->setDriveFormatted(formatted);
    ScanDriver driver(*s->adapter, s->observer);
    if (mode == RecoveryMode::Advanced) {
        s->adapter->findCandidates(3, s->observer, driver.control());
        EXPECT_TRUE(choose(*s->adapter, 0, shiftChoice < 0 ? 0 : 1 << shiftChoice, 0));
    }
    EXPECT_TRUE(driver.run(mode));
    s->paths = reachablePaths(*s->adapter);
    return s;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

}  // namespace

TEST(ExFatEdgeCaseTest, RootChainIsFollowedAndSetsCrossClusterEnds) {
    TinyExFat fs(0);  // 512-byte clusters: 16 slots each
    std::vector<std::uint32_t> root{4, 9, 6};
    fs.chain(root);
    std::size_t slot = 3;
    for (int i = 0; i < 8; ++i) {
        std::u16string name = u"a file name long enough for three entries " + std::u16string(1, char16_t(u'0' + i));
        fs.fill(static_cast<std::uint32_t>(20 + i), static_cast<char>('a' + i));
        fs.use(static_cast<std::uint32_t>(20 + i));
        fs.fat(static_cast<std::uint32_t>(20 + i), 0xFFFFFFFF);
        slot = fs.put(root, slot, TinyExFat::set({.name = name, .firstCluster = 20u + static_cast<std::uint32_t>(i), .size = 100}));
    }
    ASSERT_GT(slot, 32u);  // the sets reach the root's third cluster
    auto s = scan(fs);
    for (int i = 0; i < 8; ++i) {
        std::string name = "/a file name long enough for three entries " + std::string(1, static_cast<char>('0' + i));
        EXPECT_EQ(s->content(name), repeat(static_cast<char>('a' + i), 100)) << name;
    }
    EXPECT_EQ(s->paths.size(), 8u);
}

TEST(ExFatEdgeCaseTest, AReusedSetEndsWithItsOwnNameAndLeftoversAreIgnored) {
    TinyExFat fs(0);
    fs.chain({4});
    // A deleted set of a 40-character name, then a live short set written over its start.
    auto old = TinyExFat::set({.name = std::u16string(40, u'x'), .firstCluster = 30, .size = 10, .deleted = true});
    fs.put({4}, 3, old);
    fs.chain({31});
    fs.fill(31, 'b');
    fs.put({4}, 3, TinyExFat::set({.name = u"berlin.txt", .firstCluster = 31, .size = 7}));
    auto s = scan(fs);
    EXPECT_EQ(s->content("/berlin.txt"), "bbbbbbb");
    EXPECT_EQ(s->paths.size(), 1u);
}

TEST(ExFatEdgeCaseTest, NoFatChainFolderIsReadOverItsWholeLength) {
    TinyExFat fs(0);
    fs.chain({4});
    fs.use(10), fs.use(11), fs.use(12);  // consecutive, no FAT entries
    fs.put({4}, 3, TinyExFat::set({.name = u"run", .attributes = 0x10, .firstCluster = 10, .size = 3 * 512, .flags = 3}));
    std::size_t slot = 0;
    for (int i = 0; i < 15; ++i)
        slot = fs.put({10, 11, 12}, slot, TinyExFat::set({.name = u"empty" + std::u16string(1, char16_t(u'a' + i)), .flags = 3}));
    ASSERT_GT(slot, 32u);
    auto s = scan(fs);
    EXPECT_TRUE(s->paths.count("/run/emptya"));
    EXPECT_TRUE(s->paths.count("/run/emptyo"));
    EXPECT_EQ(s->paths.size(), 16u);
}

TEST(ExFatEdgeCaseTest, LoopingAndCrossLinkedFolderChainsEnd) {
    TinyExFat fs(0);
    fs.chain({4});
    fs.put({4}, 3, TinyExFat::set({.name = u"loop", .attributes = 0x10, .firstCluster = 12, .size = 4 * 512}));
    fs.put({4}, 6, TinyExFat::set({.name = u"self", .attributes = 0x10, .firstCluster = 4, .size = 512}));
    fs.chain({12, 13});
    fs.fat(13, 12);  // 12 -> 13 -> 12 -> ...
    fs.put({12}, 0, TinyExFat::set({.name = u"in12"}));
    fs.put({13}, 0, TinyExFat::set({.name = u"in13"}));
    auto s = scan(fs);
    EXPECT_TRUE(s->paths.count("/loop/in12"));
    EXPECT_TRUE(s->paths.count("/loop/in13"));
    EXPECT_EQ(s->paths.size(), 4u);  // loop, self (its cluster was read already), in12, in13
}

TEST(ExFatEdgeCaseTest, DeletedChainedFileTakesTheFreeClustersAfterItsFirst) {
    TinyExFat fs(0);
    fs.chain({4});
    for (std::uint32_t c = 40; c <= 44; ++c) fs.fill(c, static_cast<char>('0' + c - 40));
    fs.chain({41});  // another file's cluster, in use
    fs.put({4}, 3, TinyExFat::set({.name = u"other", .firstCluster = 41, .size = 512}));
    fs.put({4}, 6, TinyExFat::set({.name = u"gone", .firstCluster = 40, .size = 1200, .deleted = true}));
    auto s = scan(fs);
    EXPECT_EQ(s->content("/gone"), repeat('0', 512) + repeat('2', 512) + repeat('3', 176));
    // "Is Drive Formated..?": every following cluster is taken.
    auto f = scan(fs, RecoveryMode::Standard, -1, true);
    std::string formatted = f->content("/gone");
    EXPECT_EQ(formatted, repeat('0', 512) + repeat('1', 512) + repeat('2', 176));
}

TEST(ExFatEdgeCaseTest, ContiguousFileEndsAtItsSizeWithZerosPastValidData) {
    TinyExFat fs(3);  // 4 KiB clusters
    fs.chain({4});
    for (std::uint32_t c = 10; c <= 12; ++c) {
        fs.fill(c, 'z');
        fs.use(c);
    }
    fs.put({4}, 3, TinyExFat::set({.name = u"ten", .firstCluster = 10, .size = 10000, .flags = 3}));
    fs.put({4}, 6, TinyExFat::set({.name = u"prealloc", .firstCluster = 10, .size = 10000, .validSize = 6000, .flags = 3}));
    auto s = scan(fs);
    EXPECT_EQ(s->content("/ten"), repeat('z', 10000));
    EXPECT_EQ(s->content("/prealloc"), repeat('z', 6000) + std::string(4000, '\0'));
}

TEST(ExFatEdgeCaseTest, AChainThatEndsEarlyIsAFailedSave) {
    TinyExFat fs(0);
    fs.chain({4});
    fs.chain({50});
    fs.put({4}, 3, TinyExFat::set({.name = u"short", .firstCluster = 50, .size = 3 * 512}));
    auto s = scan(fs);
    TempDir dir;
    EXPECT_EQ(s->adapter->writeFile(s->paths["/short"], dir.file("short")), WriteResult::ReadFailed);
}

TEST(ExFatEdgeCaseTest, TimesAreUtcWhereTheOffsetIsValidElseAsStored) {
    TinyExFat fs(0);
    fs.chain({4});
    // 0x84: valid, +4 quarter hours. The stored 13:05:58 is then 12:05:58 UTC.
    fs.put({4}, 3, TinyExFat::set({.name = u"berlin", .utcOffset = 0x84}));
    fs.put({4}, 6, TinyExFat::set({.name = u"local"}));
    auto s = scan(fs);
    EntryTimes berlin = s->adapter->times(s->paths["/berlin"]);
    EXPECT_TRUE(berlin.utc);
    ASSERT_TRUE(berlin.modified);
    EXPECT_EQ(isoText(*berlin.modified, berlin.utc), "2024-03-05T12:05:58Z");
    ASSERT_TRUE(berlin.modifiedInstant);
    EXPECT_EQ(berlin.modifiedInstant->seconds, utcCivilToUnix({2024, 3, 5, 12, 5, 58}));
    EntryTimes local = s->adapter->times(s->paths["/local"]);
    EXPECT_FALSE(local.utc);
    EXPECT_EQ(isoText(*local.modified, false), "2024-03-05T13:05:58");  // seconds field 29: 58 s
}

TEST(ExFatEdgeCaseTest, BootSectorsThatAreNotSaneAreRefused) {
    TinyExFat fs(3, 100);
    ExFatGeometry g;
    std::string why;
    ASSERT_TRUE(readExFatGeometry(Bytes(fs.d), static_cast<std::int64_t>(fs.d.size()), g, why));
    EXPECT_EQ(g.clusterBytes(), 4096u);
    // The cluster count is bounded by what the volume holds.
    ASSERT_TRUE(readExFatGeometry(Bytes(fs.d), TinyExFat::kHeap + 10 * 4096, g, why));
    EXPECT_EQ(g.clusterCount, 10u);
    auto broken = [&](std::size_t offset, std::uint64_t value, int width) {
        ByteVector b = fs.d;
        putLe(b, offset, value, width);
        return !readExFatGeometry(Bytes(b), static_cast<std::int64_t>(b.size()), g, why);
    };
    EXPECT_TRUE(broken(108, 8, 1));          // 256-byte sectors
    EXPECT_TRUE(broken(108, 13, 1));         // 8 KiB sectors
    EXPECT_TRUE(broken(109, 17, 1));         // 9 + 17 > 25
    EXPECT_TRUE(broken(88, 0x7FFFFFFF, 4));  // heap past the volume
    EXPECT_TRUE(broken(80, 0, 4));           // no FAT
    EXPECT_TRUE(broken(3, 'N', 1));          // not EXFAT
    // The wizard's message for a volume that is not exFAT.
    TinyExFat bad(0);
    bad.d[3] = 'N';
    MemoryReader reader(bad.d);
    ExFatAdapter adapter(reader, VolumeRecord{"FAT64", "", "0", "1", 0});
    std::string failure;
    WorkControl control;
    EXPECT_FALSE(adapter.scan(RecoveryMode::Standard, silentObserver(), control, failure));
    EXPECT_EQ(failure, "Selected Drive is not in exFat Format");
}

TEST(ExFatEdgeCaseTest, AdvancedModeWorksOutTheHeapAfterTheBootSectorsAreLost) {
    TinyExFat fs(1, 300);  // 1 KiB clusters
    fs.chain({4});
    fs.chain({20});
    fs.fill(20, 'q');
    fs.put({4}, 3, TinyExFat::set({.name = u"docs", .attributes = 0x10, .firstCluster = 21, .size = 1024}));
    fs.chain({21});
    fs.put({21}, 0, TinyExFat::set({.name = u"inside.txt", .firstCluster = 20, .size = 900}));
    // A folder no walk reaches (its parent's entry is gone) and a file in it.
    fs.chain({30});
    fs.put({30}, 0, TinyExFat::set({.name = u"stray.txt", .firstCluster = 20, .size = 5}));
    std::vector<TinyExFat::Slot> lost = TinyExFat::set({.name = u"lostdir", .attributes = 0x10, .firstCluster = 30, .size = 1024});
    fs.chain({31});
    fs.put({31}, 0, lost);
    std::memset(fs.d.data(), 0, 512);
    std::memset(fs.d.data() + 12 * 512, 0, 512);

    MemoryReader reader(fs.d);
    ExFatAdapter adapter(reader, VolumeRecord{"FAT64", "", "0", "1", 0});
    WorkControl control;
    AdvancedSearch found = adapter.findCandidates(3, silentObserver(), control);
    ASSERT_EQ(found.lists[0].items.size(), 1u);
    EXPECT_EQ(found.lists[0].items[0].byteOffset, static_cast<std::int64_t>(TinyExFat::kFat));
    ASSERT_FALSE(found.lists[1].items.empty());
    EXPECT_EQ(found.lists[1].items[0].byteOffset, static_cast<std::int64_t>(TinyExFat::kHeap));
    EXPECT_EQ(found.parameters[0].values.front(), 1);
    EXPECT_TRUE(found.lists.size() > 1 && found.parameters[0].shifts);

    auto s = scan(fs, RecoveryMode::Advanced, 1);
    EXPECT_EQ(s->content("/docs/inside.txt"), repeat('q', 900));
    EXPECT_TRUE(s->paths.count("/ORPHAN ENTRY/lostdir/stray.txt"));
    EXPECT_FALSE(s->paths.count("/ORPHAN ENTRY/stray.txt"));  // listed once, in its folder
    EXPECT_FALSE(s->paths.count("/ORPHAN ENTRY/inside.txt"));
}

TEST(ExFatEdgeCaseTest, ADeletedFolderDoesNotTakeTheEntriesOfTheLiveFolderNowInItsCluster) {
    TinyExFat fs(0);
    fs.chain({4});
    fs.put({4}, 3, TinyExFat::set({.name = u"new", .attributes = 0x10, .firstCluster = 16, .size = 512}));
    fs.put({4}, 6, TinyExFat::set({.name = u"sub", .attributes = 0x10, .firstCluster = 15, .size = 512}));
    fs.chain({15});
    fs.chain({16});
    // "new" is walked before "sub"; the deleted "old" in it had cluster 15.
    fs.put({16}, 0, TinyExFat::set({.name = u"old", .attributes = 0x10, .firstCluster = 15, .size = 512, .deleted = true}));
    fs.put({15}, 0, TinyExFat::set({.name = u"mine.txt"}));
    auto s = scan(fs);
    EXPECT_TRUE(s->paths.count("/sub/mine.txt"));
    EXPECT_TRUE(s->paths.count("/new/old"));
    EXPECT_FALSE(s->paths.count("/new/old/mine.txt"));
}

TEST(ExFatEdgeCaseTest, AdvancedModeWithNoHeapFoundGoesOnWithAnEmptyTreeAndSaysWhy) {
    // A wiped volume: nothing to choose, which is no wrong choice.
    std::vector<std::uint8_t> zeros(1 << 20, 0);
    MemoryReader reader(zeros);
    ExFatAdapter adapter(reader, VolumeRecord{"FAT64", "", "0", "1", 0});
    ScanDriver driver(adapter, silentObserver());
    AdvancedSearch found = adapter.findCandidates(3, silentObserver(), driver.control());
    ASSERT_EQ(found.lists.size(), 2u);
    EXPECT_TRUE(found.lists[1].items.empty());
    std::string failure;
    ASSERT_TRUE(adapter.chooseCandidate(AdvancedChoice{{0, 0}, {0}}, failure)) << failure;
    ASSERT_TRUE(driver.run(RecoveryMode::Advanced));
    for (EntryId top : adapter.children(adapter.rootEntry()))  // at most the empty orphan folder
        EXPECT_TRUE(adapter.isFolder(top) && adapter.children(top).empty()) << adapter.name(top);
    ASSERT_FALSE(adapter.damage().empty());
    EXPECT_NE(adapter.damage().front().find("heap"), std::string::npos) << adapter.damage().front();
    // A choice past what was found is still refused where something was found.
    TinyExFat fs(1, 300);
    MemoryReader tiny(fs.d);
    ExFatAdapter other(tiny, VolumeRecord{"FAT64", "", "0", "1", 0});
    WorkControl control;
    AdvancedSearch some = other.findCandidates(3, silentObserver(), control);
    ASSERT_FALSE(some.lists[1].items.empty());
    EXPECT_FALSE(other.chooseCandidate(AdvancedChoice{{0, 9}, {0}}, failure));
    EXPECT_NE(failure.find("HEAP_OFFSET_ENTRY:9"), std::string::npos) << failure;
}

}  // namespace ondrel::test
