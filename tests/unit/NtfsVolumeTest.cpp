// The NTFS parser on a volume made by mkntfs and ntfs-3g (the first volume of
// the MBR fixture disk), intact and damaged in the ways recovery meets.
#include "diskimage/FileReadSeek.h"
#include "fs/ntfs/NtfsAdapter.h"
#include "results/SaveWalk.h"
#include "results/ScanDriver.h"
#include "unit/AdapterPaths.h"
#include "unit/RecordingObserver.h"
#include "unit/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/stat.h>

namespace ondrel::test {

namespace {

struct Expected {
    bool live;
    std::uint64_t size;
    std::string sha;
};

std::map<std::string, Expected> manifest(const std::string& fs) {
    std::map<std::string, Expected> out;
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/files.manifest");
    for (std::string line; std::getline(f, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            cols.push_back(line.substr(start, tab - start));
        cols.push_back(line.substr(start));
        if (cols.size() == 5 && cols[0] == fs) out["/" + cols[4]] = {cols[1] == "live", std::stoull(cols[2]), cols[3]};
    }
    return out;
}

std::string sha256(const std::string& path) {
    std::string out;
    runCommand("sha256sum '" + path + "'", &out);
    return out.substr(0, 64);
}

class NtfsVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ByteVector disk = readFile(fixture("mbr-disk.raw"));
        ASSERT_FALSE(disk.empty());
        volume.assign(disk.begin() + 2048 * 512, disk.begin() + (2048 + 32768) * 512);
    }

    struct Scan {
        FileReadSeek reader;
        std::unique_ptr<NtfsAdapter> adapter;
        RecordingObserver observer;
        std::unique_ptr<ScanDriver> driver;
        bool ok = false;
    };

    std::unique_ptr<Scan> scan(const ByteVector& bytes, int mode, const std::string& sizeText = "16") {
        writeFile(dir.file("vol.img"), bytes);
        auto s = std::make_unique<Scan>();
        EXPECT_TRUE(s->reader.open(dir.file("vol.img")));
        s->adapter = std::make_unique<NtfsAdapter>(s->reader, VolumeRecord{"NTFS", "", "0", sizeText, 0});
        s->driver = std::make_unique<ScanDriver>(*s->adapter, s->observer);
        if (mode == 2) {
            WorkControl control;
            if (!s->adapter->findCandidates(3, s->observer, control).lists[0].items.empty()) {
                EXPECT_TRUE(test::choose(*s->adapter, 0, 0));
            }
        }
        s->ok = s->driver->run(recoveryModeFromNumber(mode));
        return s;
    }

    static std::map<std::string, EntryId> paths(const FileSystemAdapter& a) { return reachablePaths(a); }

    // Saves an entry and returns the SHA-256 of what was written.
    std::string saved(FileSystemAdapter& a, EntryId e) {
        std::string out = dir.file("saved.bin");
        std::filesystem::remove(out);  // saving never replaces a file
        a.writeFile(e, out);
        return sha256(out);
    }

    TempDir dir;
    ByteVector volume;
};

}  // namespace

TEST_F(NtfsVolumeTest, StandardScanRecoversLiveAndDeletedFilesWithTheirData) {
    auto s = scan(volume, 1);
    ASSERT_TRUE(s->ok);
    auto found = paths(*s->adapter);
    for (const auto& [path, want] : manifest("NTFS")) {
        ASSERT_TRUE(found.count(path)) << path;
        EntryId e = found[path];
        EXPECT_EQ(s->adapter->isDeleted(e), !want.live) << path;
        EXPECT_EQ(s->adapter->size(e), want.size) << path;
        EXPECT_EQ(saved(*s->adapter, e), want.sha) << path;
    }
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY"));
    EXPECT_TRUE(found.count("/$MFT") == 0) << "the MFT's own record is never a child";
    EXPECT_TRUE(s->observer.saw("Scanning processing done.Select save button to save the data."));
    EXPECT_TRUE(s->observer.saw("boot sector is fine.Getting run of mft entry..."));
}

TEST_F(NtfsVolumeTest, StopKeepsWhatWasFoundAndStillCompletes) {
    writeFile(dir.file("vol.img"), volume);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("vol.img")));
    NtfsAdapter adapter(reader, VolumeRecord{"NTFS", "", "0", "16", 0});
    RecordingObserver observer;
    ScanDriver driver(adapter, observer);
    driver.stop();
    ASSERT_TRUE(driver.run(recoveryModeFromNumber(1)));
    EXPECT_TRUE(driver.stopRequested());
    EXPECT_TRUE(observer.saw("stop button pressed.Please wait for the process to be stopped."));
    EXPECT_TRUE(observer.saw("Scanning processing done.Select save button to save the data."));
    EXPECT_NE(adapter.rootEntry(), kNoEntry);
}

TEST_F(NtfsVolumeTest, SavedFilesCarryTheRecordedTimes) {
    auto s = scan(volume, 1);
    auto found = paths(*s->adapter);
    EntryId e = found.at("/docs/readme.txt");
    std::string out = dir.file("readme.txt");
    ASSERT_EQ(s->adapter->writeFile(e, out), WriteResult::Written);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EntryTimes t = s->adapter->times(e);
    ASSERT_TRUE(t.modifiedInstant && t.accessInstant);
    EXPECT_EQ(st.st_mtim.tv_sec, t.modifiedInstant->seconds);
    EXPECT_EQ(st.st_mtim.tv_nsec, static_cast<long>(t.modifiedInstant->hundredNanos) * 100);
    EXPECT_EQ(st.st_atim.tv_sec, t.accessInstant->seconds);
    DisplayTexts d = s->adapter->displayTexts(e);
    EXPECT_EQ(d.modification.size(), std::string("01/01/2024  00:00 AM").size());
}

TEST_F(NtfsVolumeTest, DamagedBootSectorIsReplacedByASweepForTheMft) {
    ByteVector damaged = volume;
    std::fill(damaged.begin(), damaged.begin() + 512, 0);
    auto s = scan(damaged, 1);
    ASSERT_TRUE(s->ok);
    EXPECT_TRUE(s->observer.saw("boot sector corrupt.Scanning for first mft entry..."));
    auto found = paths(*s->adapter);
    for (const auto& [path, want] : manifest("NTFS")) {
        ASSERT_TRUE(found.count(path)) << path;
        if (want.live) {
            EXPECT_EQ(saved(*s->adapter, found[path]), want.sha) << path;
        }
    }
}

TEST_F(NtfsVolumeTest, DeepScanPutsEverythingUnderTheOrphanFolder) {
    ByteVector damaged = volume;
    std::fill(damaged.begin(), damaged.begin() + 512, 0);
    auto s = scan(damaged, 3);
    ASSERT_TRUE(s->ok);
    auto top = s->adapter->children(s->adapter->rootEntry());
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(s->adapter->name(top[0]), "ORPHAN_ENTRY");
    // Every live file of the volume is somewhere below it, with its data.
    auto found = paths(*s->adapter);
    std::map<std::string, EntryId> byName;
    for (const auto& [path, e] : found) byName[path.substr(path.find_last_of('/') + 1)] = e;
    for (const auto& [path, want] : manifest("NTFS")) {
        std::string leaf = path.substr(path.find_last_of('/') + 1);
        ASSERT_TRUE(byName.count(leaf)) << leaf;
        if (want.live) {
            EXPECT_EQ(saved(*s->adapter, byName[leaf]), want.sha) << leaf;
        }
    }
}

TEST_F(NtfsVolumeTest, AdvancedModeReadsTheMftFromAFoundCopy) {
    writeFile(dir.file("vol.img"), volume);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("vol.img")));
    NtfsAdapter adapter(reader, VolumeRecord{"NTFS", "", "0", "16", 0});
    RecordingObserver observer;
    WorkControl control;
    ASSERT_EQ(static_cast<int>(adapter.findCandidates(3, observer, control).lists[0].items.size()), 1) << "the mirror holds no $Boot, so it is no candidate";
    EXPECT_TRUE(test::choose(adapter, 0, 8));
    ScanDriver driver(adapter, observer);
    ASSERT_TRUE(driver.run(recoveryModeFromNumber(2)));
    EXPECT_TRUE(paths(adapter).count("/docs/deep/nested.txt"));
}

TEST_F(NtfsVolumeTest, ParentLoopsAreCutAndTheirFilesStayVisible) {
    auto s = scan(volume, 1);
    auto found = paths(*s->adapter);
    EntryId docs = found.at("/docs"), deep = found.at("/docs/deep");
    const ntfs& p = s->adapter->parser();
    const NtfsEntry& docsEntry = p.entries()[static_cast<std::size_t>(docs)];
    // Make "docs" a child of its own child "deep".
    ByteVector looped = volume;
    std::vector<std::uint8_t> raw(looped.begin() + docsEntry.diskOffset, looped.begin() + docsEntry.diskOffset + 1024);
    NtfsRecord rec{Bytes(raw)};
    for (const auto& a : rec.attributes())
        if (a.type == kFileName) putLe(looped, static_cast<std::size_t>(docsEntry.diskOffset) + a.offset + a.contentOffset, static_cast<std::uint64_t>(deep), 6);
    auto l = scan(looped, 1);
    ASSERT_TRUE(l->ok);
    auto after = paths(*l->adapter);
    bool readme = false, nested = false;
    for (const auto& [path, e] : after) {
        readme |= path.size() >= 11 && path.ends_with("/readme.txt");
        nested |= path.ends_with("/nested.txt");
    }
    EXPECT_TRUE(readme && nested) << "files inside a parent loop are reachable from ORPHAN_ENTRY";
}

TEST_F(NtfsVolumeTest, CorruptRecordsAndTruncationNeverCrashOrHang) {
    auto s = scan(volume, 1);
    const ntfs& p = s->adapter->parser();
    std::int64_t mftStart = p.entries().empty() ? 0 : p.entries().front().diskOffset;
    std::mt19937 gen(42);
    for (int round = 0; round < 6; ++round) {
        ByteVector bad = volume;
        // Random bytes over parts of the first 128 MFT records.
        for (int k = 0; k < 400; ++k) {
            std::size_t at = static_cast<std::size_t>(mftStart) + gen() % (128 * 1024);
            if (at < bad.size()) bad[at] = static_cast<std::uint8_t>(gen());
        }
        // Run lists pointing far past the volume.
        for (std::size_t r = 64; r < 80; ++r) {
            std::size_t rec = static_cast<std::size_t>(mftStart) + r * 1024;
            for (std::size_t i = 0x40; i < 0x200 && rec + i + 9 < bad.size(); i += 41) {
                bad[rec + i] = 0x48;
                bad[rec + i + 5] = 0x7F;
            }
        }
        for (int mode : {1, 3}) {
            auto c = scan(bad, mode);
            SaveWalk walk(*c->adapter, c->observer);
            walk.askFirst = false;
            TempDir out;
            if (c->adapter->rootEntry() != kNoEntry) walk.saveFolder(c->adapter->rootEntry(), out.path().string());
        }
    }
    ByteVector truncated(volume.begin(), volume.begin() + static_cast<std::ptrdiff_t>(volume.size() / 3));
    auto t = scan(truncated, 1);
    EXPECT_TRUE(t->ok);
    auto d = scan(truncated, 3);
    EXPECT_TRUE(d->ok);
}

}  // namespace ondrel::test
