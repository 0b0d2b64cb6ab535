// The FAT16 and FAT32 parsers on volumes made by mkfs.fat and mtools (the
// logical FAT16 and primary FAT32 volumes of the MBR fixture disk), intact and
// damaged.
#include "diskimage/FileReadSeek.h"
#include "fs/fat/FatAdapter.h"
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

struct FatCase {
    const char* manifestName;
    std::int64_t startSector;
    std::int64_t sectors;
    bool fat32;
    int sectorsPerCluster;
};

std::string sha256(const std::string& path) {
    std::string out;
    runCommand("sha256sum '" + path + "'", &out);
    return out.substr(0, 64);
}

class FatVolumeTest : public ::testing::TestWithParam<FatCase> {
protected:
    void SetUp() override {
        ByteVector disk = readFile(fixture("mbr-disk.raw"));
        ASSERT_FALSE(disk.empty());
        const FatCase& c = GetParam();
        volume.assign(disk.begin() + c.startSector * 512, disk.begin() + (c.startSector + c.sectors) * 512);
    }
    struct Scan {
        FileReadSeek reader;
        std::unique_ptr<FatAdapter> adapter;
        RecordingObserver observer;
        bool ok = false;
    };
    std::unique_ptr<Scan> scan(const ByteVector& bytes, int mode = 1, bool formatted = false) {
        writeFile(dir.file("vol.img"), bytes);
        auto s = std::make_unique<Scan>();
        EXPECT_TRUE(s->reader.open(dir.file("vol.img")));
        std::string mb = std::to_string(bytes.size() / 1048576);
        s->adapter = std::make_unique<FatAdapter>(s->reader, VolumeRecord{GetParam().fat32 ? "FAT32" : "FAT16", "", "0", mb, 0},
                                                  GetParam().fat32);
        s->adapter->setDriveFormatted(formatted);
        if (mode == 2) {
            WorkControl control;
            s->adapter->findCandidates(3, s->observer, control);
            EXPECT_TRUE(test::choose(*s->adapter, 0, GetParam().sectorsPerCluster));
        }
        ScanDriver driver(*s->adapter, s->observer);
        s->ok = driver.run(recoveryModeFromNumber(mode));
        return s;
    }
    static std::map<std::string, EntryId> paths(const FileSystemAdapter& a) { return reachablePaths(a); }

    void checkManifest(const ByteVector& bytes, int mode);

    TempDir dir;
    ByteVector volume;
};

}  // namespace

TEST_P(FatVolumeTest, StandardScanRecoversLiveAndDeletedFiles) { checkManifest(volume, 1); }

TEST_P(FatVolumeTest, AdvancedModeRecoversAVolumeWhoseBootSectorsAreGone) {
    ByteVector zeroed = volume;
    std::fill(zeroed.begin(), zeroed.begin() + 512, 0);
    if (GetParam().fat32) std::fill(zeroed.begin() + 6 * 512, zeroed.begin() + 7 * 512, 0);  // the backup
    writeFile(dir.file("z.img"), zeroed);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("z.img")));
    FatAdapter adapter(reader, VolumeRecord{"FAT", "", "0", std::to_string(zeroed.size() >> 20), 0}, GetParam().fat32);
    RecordingObserver observer;
    WorkControl control;
    EXPECT_EQ(adapter.findCandidates(3, observer, control).lists[0].items.size(), 2u) << "both FAT copies";
    checkManifest(zeroed, 2);
}

TEST_P(FatVolumeTest, AdvancedModeRefusesASectorsPerClusterThatIsNotAPowerOfTwo) {
    writeFile(dir.file("v.img"), volume);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("v.img")));
    FatAdapter adapter(reader, VolumeRecord{"FAT", "", "0", std::to_string(volume.size() >> 20), 0}, GetParam().fat32);
    RecordingObserver observer;
    EXPECT_TRUE(test::choose(adapter, 0, 3));
    ScanDriver driver(adapter, observer);
    EXPECT_FALSE(driver.run(recoveryModeFromNumber(2)));
    ASSERT_FALSE(observer.messages.empty());
    EXPECT_NE(observer.messages.back().find("power of two"), std::string::npos);
}

void FatVolumeTest::checkManifest(const ByteVector& bytes, int mode) {
    auto s = scan(bytes, mode);
    ASSERT_TRUE(s->ok);
    auto found = paths(*s->adapter);
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/files.manifest");
    int checked = 0;
    for (std::string line; std::getline(f, line);) {
        std::istringstream in(line);
        std::string fs, state, size, hash, path;
        std::getline(in, fs, '\t');
        std::getline(in, state, '\t');
        std::getline(in, size, '\t');
        std::getline(in, hash, '\t');
        std::getline(in, path);
        if (fs != GetParam().manifestName) continue;
        ASSERT_TRUE(found.count("/" + path)) << path;
        EntryId e = found["/" + path];
        EXPECT_EQ(s->adapter->isDeleted(e), state == "deleted") << path;
        EXPECT_EQ(std::to_string(s->adapter->size(e)), size) << path;
        std::string out = dir.file("saved.bin");
        std::filesystem::remove(out);  // saving never replaces a file
        s->adapter->writeFile(e, out);
        EXPECT_EQ(sha256(out), hash) << path;
        ++checked;
    }
    EXPECT_GE(checked, 4);
    if (mode == 1) {
        EXPECT_TRUE(s->observer.saw(std::string("Finding ") + (GetParam().fat32 ? "Fat32" : "Fat16") +
                                    " File And Directory entries recursively...."));
    }
}

TEST_P(FatVolumeTest, SavedFilesGetTheLocalTimesAsHostTimes) {
    auto s = scan(volume);
    auto found = paths(*s->adapter);
    EntryId e = found.at("/docs/readme.txt");
    EntryTimes t = s->adapter->times(e);
    EXPECT_FALSE(t.utc) << "DOS times are local wall times";
    ASSERT_TRUE(t.modified);
    std::string out = dir.file("readme.txt");
    ASSERT_EQ(s->adapter->writeFile(e, out), WriteResult::Written);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, localCivilToUnix(*t.modified));
    DisplayTexts d = s->adapter->displayTexts(e);
    EXPECT_EQ(d.access.back(), ' ') << "the access column shows the date only";
    EXPECT_NE(d.attributes.find("-A"), std::string::npos);
}

TEST_P(FatVolumeTest, WrongKindIsRefusedWithItsMessage) {
    ByteVector zero = volume;
    std::fill(zero.begin(), zero.begin() + 512, 0);
    auto s = scan(zero);
    EXPECT_FALSE(s->ok);
    std::string want = std::string("Selected Drive is not in ") + (GetParam().fat32 ? "Fat32" : "Fat16") + " Format";
    ASSERT_FALSE(s->observer.messages.empty());
    EXPECT_EQ(s->observer.messages.back(), want);
}

TEST_P(FatVolumeTest, LoopingChainsAndGarbageNeverHang) {
    auto s = scan(volume);
    const FatParser& p = s->adapter->parser();
    std::int64_t fat = p.geometry().fatOffset();
    std::mt19937 gen(5);
    for (int round = 0; round < 5; ++round) {
        ByteVector bad = volume;
        // Every FAT entry of the first clusters points back at cluster 2: loops everywhere.
        for (int c = 2; c < 200; ++c) {
            if (p.geometry().fat32) putLe(bad, static_cast<std::size_t>(fat + c * 4), 2 + (gen() % 8), 4);
            else putLe(bad, static_cast<std::size_t>(fat + c * 2), 2 + (gen() % 8), 2);
        }
        // Random bytes over the first data clusters (directories among them).
        std::size_t data = static_cast<std::size_t>(p.geometry().dataOffset());
        for (int k = 0; k < 3000; ++k) bad[data + gen() % 65536] = static_cast<std::uint8_t>(gen());
        auto c = scan(bad);
        SaveWalk walk(*c->adapter, c->observer);
        walk.askFirst = false;
        TempDir out;
        if (c->ok) walk.saveFolder(c->adapter->rootEntry(), out.path().string());
        c->adapter->setDriveFormatted(true);
        auto f = scan(bad, 1, true);
        if (f->ok) walk.saveFolder(c->adapter->rootEntry(), out.path().string());
    }
}

INSTANTIATE_TEST_SUITE_P(MbrDisk, FatVolumeTest,
                         ::testing::Values(FatCase{"FAT32", 34816, 81920, true, 1}, FatCase{"FAT16", 118784, 32768, false, 4}),
                         [](const auto& info) { return std::string(info.param.manifestName); });

}  // namespace ondrel::test
