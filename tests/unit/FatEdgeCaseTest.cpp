// FAT directory cases built byte by byte in a small FAT16 volume: long names,
// deleted entries and folders, duplicate folder entries, looping chains.
#include "diskimage/FileReadSeek.h"
#include "fs/fat/FatAdapter.h"
#include "results/ScanDriver.h"
#include "unit/BootSectors.h"
#include "unit/TinyFat16.h"
#include "unit/RecordingObserver.h"

#include <gtest/gtest.h>
#include <map>

namespace ondrel::test {

namespace {

struct Scanned {
    FileReadSeek reader;
    std::unique_ptr<FatAdapter> adapter;
    RecordingObserver observer;
    std::map<std::string, EntryId> byPath;
};

std::unique_ptr<Scanned> scan(const TinyFat16& fs, const TempDir& dir) {
    writeFile(dir.file("fat.img"), fs.d);
    auto s = std::make_unique<Scanned>();
    EXPECT_TRUE(s->reader.open(dir.file("fat.img")));
    s->adapter = std::make_unique<FatAdapter>(s->reader, VolumeRecord{"FAT16", "", "0", "4", 0}, false);
    ScanDriver driver(*s->adapter, s->observer);
    EXPECT_TRUE(driver.run(recoveryModeFromNumber(1)));
    std::vector<std::pair<EntryId, std::string>> stack{{s->adapter->rootEntry(), ""}};
    while (!stack.empty()) {
        auto [e, p] = stack.back();
        stack.pop_back();
        for (EntryId c : s->adapter->children(e)) {
            std::string cp = p + "/" + s->adapter->name(c) + (s->adapter->isDeleted(c) ? "*" : "");
            s->byPath[cp] = c;
            if (s->adapter->isFolder(c)) stack.push_back({c, cp});
        }
    }
    return s;
}

std::string content(FatAdapter& a, EntryId e, const TempDir& dir) {
    std::string out = dir.file("out.bin");
    std::filesystem::remove(out);  // saving never replaces a file
    a.writeFile(e, out);
    ByteVector b = readFile(out);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(FatEdgeCaseTest, LongNamesLiveAndDeletedAndUpTo255Characters) {
    TinyFat16 fs;
    std::size_t at = TinyFat16::kRoot;
    at = fs.longEntry(at, u"A rather long file name here.txt", "ARATHE~1TXT", 0x20, 3, 5);
    at = fs.longEntry(at, u"Gone but not forgotten.txt", "GONEBU~1TXT", 0x20, 4, 5, true);
    std::u16string longest(250, u'x');
    longest += u".text";
    at = fs.longEntry(at, longest, "XXXXXX~1TEX", 0x20, 5, 0);
    fs.entry(at, "ABCDEF     ", 0x20, 0, 0);
    std::memcpy(fs.d.data() + TinyFat16::cluster(3), "hello", 5);
    fs.setFat(3, 0xFFFF);
    TempDir dir;
    auto s = scan(fs, dir);
    EXPECT_TRUE(s->byPath.count("/A rather long file name here.txt"));
    EXPECT_TRUE(s->byPath.count("/Gone but not forgotten.txt*")) << "all four entries deleted: long name, deleted";
    EXPECT_TRUE(s->byPath.count("/" + std::string(250, 'x') + ".text")) << "255 characters kept whole";
    EXPECT_TRUE(s->byPath.count("/ABCDEF"));
    EntryId e = s->byPath.at("/A rather long file name here.txt");
    EXPECT_EQ(content(*s->adapter, e, dir), "hello");
    DisplayTexts t = s->adapter->displayTexts(e);
    EXPECT_EQ(t.creation, "03/05/2024  12:05 AM");
    EXPECT_EQ(t.modification, "03/07/2024  01:05 PM");
    EXPECT_EQ(t.access, "03/06/2024 ");
    EXPECT_EQ(content(*s->adapter, s->byPath.at("/ABCDEF"), dir), "") << "a file of size 0 is created empty";
}

TEST(FatEdgeCaseTest, DeletedFoldersAndOneFolderNamedTwice) {
    TinyFat16 fs;
    std::size_t at = TinyFat16::kRoot;
    at = fs.entry(at, "LIVE       ", 0x10, 10, 0);
    at = fs.entry(at, "\xE5" "LDNAME    ", 0x10, 10, 0);  // a deleted entry naming the same cluster
    at = fs.entry(at, "\xE5" "ELDIR     ", 0x10, 11, 0);  // deleted, cluster still a folder
    at = fs.entry(at, "\xE5" "EUSED     ", 0x10, 12, 0);  // deleted, cluster reused by a file
    fs.setFat(10, 0xFFFF);
    std::size_t in10 = fs.directory(10, 0);
    fs.entry(in10, "INSIDE  TXT", 0x20, 0, 0);
    std::size_t in11 = fs.directory(11, 0);
    fs.entry(in11, "KEPT    TXT", 0x20, 13, 3);
    std::memcpy(fs.d.data() + TinyFat16::cluster(13), "abc", 3);
    std::memcpy(fs.d.data() + TinyFat16::cluster(12), "plain file data", 15);
    TempDir dir;
    auto s = scan(fs, dir);
    EXPECT_TRUE(s->byPath.count("/_LDNAME*")) << "one record, with the name and state of the later entry";
    EXPECT_FALSE(s->byPath.count("/LIVE"));
    EXPECT_TRUE(s->byPath.count("/_LDNAME*/INSIDE.TXT"));
    EXPECT_TRUE(s->byPath.count("/_ELDIR*/KEPT.TXT")) << "a deleted folder's entries are listed under it";
    EXPECT_EQ(content(*s->adapter, s->byPath.at("/_ELDIR*/KEPT.TXT"), dir), "abc");
    ASSERT_TRUE(s->byPath.count("/_EUSED*"));
    EXPECT_TRUE(s->adapter->children(s->byPath.at("/_EUSED*")).empty()) << "a reused cluster is not read as a folder";
}

TEST(FatEdgeCaseTest, ChainsThatLoopEndAndDeletedFilesComeFromConsecutiveClusters) {
    TinyFat16 fs;
    std::size_t at = TinyFat16::kRoot;
    at = fs.entry(at, "LOOP       ", 0x10, 20, 0);
    at = fs.entry(at, "LIVE    BIN", 0x20, 30, 1500);
    fs.entry(at, "\xE5" "ONE    BIN", 0x20, 40, 1500);
    fs.setFat(20, 21);
    fs.setFat(21, 20);  // the folder's chain loops
    std::size_t in20 = fs.directory(20, 0);
    fs.entry(in20, "A       TXT", 0x20, 0, 0);
    fs.entry(TinyFat16::cluster(21), "B       TXT", 0x20, 0, 0);
    // LIVE.BIN: clusters 30 -> 35 -> 31; the deleted file: 40, 41, 42 in a row.
    fs.setFat(30, 35);
    fs.setFat(35, 31);
    fs.setFat(31, 0xFFFF);
    for (std::uint32_t c : {30u, 35u, 31u, 40u, 41u, 42u})
        std::fill(fs.d.begin() + static_cast<std::ptrdiff_t>(TinyFat16::cluster(c)),
                  fs.d.begin() + static_cast<std::ptrdiff_t>(TinyFat16::cluster(c) + 512), static_cast<std::uint8_t>(c));
    TempDir dir;
    auto s = scan(fs, dir);
    EXPECT_TRUE(s->byPath.count("/LOOP/A.TXT"));
    EXPECT_TRUE(s->byPath.count("/LOOP/B.TXT"));
    std::string live = content(*s->adapter, s->byPath.at("/LIVE.BIN"), dir);
    ASSERT_EQ(live.size(), 1500u);
    EXPECT_EQ(live[0], 30);
    EXPECT_EQ(live[512], 35);
    EXPECT_EQ(live[1024], 31);
    std::string gone = content(*s->adapter, s->byPath.at("/_ONE.BIN*"), dir);
    ASSERT_EQ(gone.size(), 1500u);
    EXPECT_EQ(gone[1024], 42);
    // "Is Drive Formated..?": chains are not followed, even for live files.
    s->adapter->setDriveFormatted(true);
    std::string formatted = content(*s->adapter, s->byPath.at("/LIVE.BIN"), dir);
    EXPECT_EQ(formatted[512], 31);
}

TEST(FatEdgeCaseTest, AdvancedModeListsStrayFileEntriesUnderTheOrphanFolder) {
    TinyFat16 fs;
    std::fill(fs.d.begin(), fs.d.begin() + 512, 0);  // the boot sector is gone
    std::size_t at = TinyFat16::kRoot;
    fs.entry(at, "DIR        ", 0x10, 10, 0);
    fs.setFat(10, 0xFFFF);
    std::size_t in10 = fs.directory(10, 0);
    fs.entry(in10, "INDIR   TXT", 0x20, 11, 2);
    fs.setFat(11, 0xFFFF);
    std::memcpy(fs.d.data() + TinyFat16::cluster(11), "in", 2);
    // A file entry left in cluster 50, which no folder leads to any more.
    fs.longEntry(TinyFat16::cluster(50), u"Stray report.txt", "STRAYR~1TXT", 0x20, 51, 5);
    std::memcpy(fs.d.data() + TinyFat16::cluster(51), "stray", 5);
    fs.setFat(51, 0xFFFF);
    TempDir dir;
    writeFile(dir.file("fat.img"), fs.d);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("fat.img")));
    FatAdapter adapter(reader, VolumeRecord{"FAT16", "", "0", "4", 0}, false);
    RecordingObserver observer;
    WorkControl control;
    ASSERT_EQ(adapter.findCandidates(3, observer, control).lists[0].items.size(), 2u);
    EXPECT_TRUE(test::choose(adapter, 0, 1));
    ScanDriver driver(adapter, observer);
    ASSERT_TRUE(driver.run(recoveryModeFromNumber(2)));
    std::map<std::string, EntryId> found;
    std::vector<std::pair<EntryId, std::string>> stack{{adapter.rootEntry(), ""}};
    while (!stack.empty()) {
        auto [e, p] = stack.back();
        stack.pop_back();
        for (EntryId c : adapter.children(e)) {
            found[p + "/" + adapter.name(c)] = c;
            if (adapter.isFolder(c)) stack.push_back({c, p + "/" + adapter.name(c)});
        }
    }
    EXPECT_TRUE(found.count("/DIR/INDIR.TXT"));
    ASSERT_TRUE(found.count("/ORPHAN ENTRY/Stray report.txt"));
    EXPECT_EQ(content(adapter, found["/ORPHAN ENTRY/Stray report.txt"], dir), "stray");
    EXPECT_FALSE(found.count("/ORPHAN ENTRY/INDIR.TXT")) << "an entry a walk reached is not listed twice";
}

}  // namespace ondrel::test
