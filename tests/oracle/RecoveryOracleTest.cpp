// The Sleuth Kit as the oracle for file recovery (NTFS, FAT16, FAT32, exFAT, ext2/3/4, HFS+): the live
// files that `fls -r -p` lists come out of `ondrel-cli recover` with the same
// paths, sizes and contents as TSK reads them (`tsk_recover`, which reads each
// file as `icat` does); deleted files whose data TSK can still read come out
// identical too. Metadata files ("$MFT", TSK's "$FAT1", ...) are left aside.
#include "unit/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

namespace ondrel::test {

namespace {

struct TskFile {
    std::string inode;
    bool deleted = false;
};

bool haveTsk() { return runCommand("command -v fls >/dev/null 2>&1 && command -v tsk_recover >/dev/null 2>&1") == 0; }

// Regular files with their $DATA inode, by "/"-path; every path listed (links,
// nodes and sockets too) into anyType.
std::map<std::string, TskFile> tskFiles(const std::string& image, const std::string& tskArgs, std::set<std::string>& anyType) {
    std::string out;
    runCommand("fls -r -p " + tskArgs + " '" + image + "' 2>/dev/null", &out);
    std::map<std::string, TskFile> files;
    // NTFS names the $DATA attribute ("64-128-2"); FAT has plain inode numbers.
    std::regex row(R"(^(\S)/(\S) (\* )?(\d+)(-128-\d+)?:\t(.*)$)");
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        std::string path = "/" + m[6].str();
        anyType.insert(path);
        if (m[2] != "r") continue;
        if (path.rfind("/$", 0) == 0 || path.find(':') != std::string::npos) continue;  // metadata, streams
        if (path.find("(Volume Label Entry)") != std::string::npos) continue;       // not a file
        TskFile f{m[4], m[3].matched};
        auto [it, fresh] = files.emplace(path, f);
        if (!fresh && it->second.deleted && !f.deleted) it->second = f;  // a live file wins over a deleted namesake
    }
    return files;
}

std::map<std::string, std::string> folderHashes(const std::filesystem::path& folder) {
    std::string out;
    runCommand("cd '" + folder.string() + "' && find . -type f -print0 | xargs -0 -r sha256sum", &out);
    std::map<std::string, std::string> hashes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 66) hashes[line.substr(66)] = line.substr(0, 64);  // "hash  ./path"
    return hashes;
}

struct OracleCase {
    const char* image;
    std::int64_t offset;
    const char* volumeArgs;  // how ondrel-cli picks the volume
    const char* tskType = "";  // TSK cannot tell a small FAT32 by itself
    // The container we read in place of the raw image TSK reads (it reads as
    // the same disk); null: the same image.
    const char* ourImage = nullptr;
};

// TSK cuts long names short; such a file is ours under the one longer name
// that begins with TSK's.
std::string ourPath(const std::map<std::string, std::string>& ours, const std::string& rel) {
    if (ours.count(rel)) return rel;
    std::string found;
    for (auto it = ours.lower_bound(rel); it != ours.end() && it->first.rfind(rel, 0) == 0; ++it) {
        if (it->first.find('/', rel.size()) != std::string::npos) continue;
        if (!found.empty()) return rel;
        found = it->first;
    }
    return found.empty() ? rel : found;
}

class RecoveryOracleTest : public ::testing::TestWithParam<OracleCase> {};

}  // namespace

TEST_P(RecoveryOracleTest, RecoveredFilesEqualWhatTheSleuthKitReads) {
    if (!haveTsk()) GTEST_SKIP() << "The Sleuth Kit (fls, tsk_recover) is not installed; install the sleuthkit package";
    const OracleCase& c = GetParam();
    std::string image = fixture(c.image);
    if (image.empty()) GTEST_SKIP() << c.image << " is not among the fixtures";
    std::string tskArgs = "-o " + std::to_string(c.offset) + (*c.tskType ? std::string(" -f ") + c.tskType : "");
    std::set<std::string> anyType;
    auto listed = tskFiles(image, tskArgs, anyType);
    ASSERT_FALSE(listed.empty());

    // TSK's reading: allocated files, and deleted files as far as it can read them.
    TempDir tskLive, tskDeleted, live, all;
    std::string offset = " " + tskArgs + " '" + image + "' ";
    ASSERT_EQ(runCommand("tsk_recover -a" + offset + "'" + tskLive.path().string() + "' >/dev/null 2>&1"), 0);
    runCommand("tsk_recover" + offset + "'" + tskDeleted.path().string() + "' >/dev/null 2>&1");
    auto theirsLive = folderHashes(tskLive.path());
    auto theirsDeleted = folderHashes(tskDeleted.path());

    std::string ours = image;
    if (c.ourImage) {
        ours = fixture(c.ourImage);
        if (ours.empty()) GTEST_SKIP() << c.ourImage << " is not among the fixtures";
    }
    std::string base = std::string(ONDREL_CLI) + " recover '" + ours + "' " + c.volumeArgs;
    ASSERT_EQ(runCommand(base + " --live-only --out '" + live.path().string() + "' >/dev/null 2>&1"), 0);
    runCommand(base + " --out '" + all.path().string() + "' >/dev/null 2>&1");
    auto oursLive = folderHashes(live.path());
    auto oursAll = folderHashes(all.path());

    std::string listing;
    runCommand(std::string(ONDREL_CLI) + " ls --json '" + ours + "' " + c.volumeArgs, &listing);
    std::map<std::string, std::uint64_t> sizes;
    std::map<std::string, int> names;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        auto o = nlohmann::json::parse(line);
        sizes[o["path"]] = o["size"];
        ++names[o["path"]];
    }

    int liveCompared = 0, deletedCompared = 0;
    for (const auto& [path, f] : listed) {
        std::string rel = "." + path;
        if (!f.deleted) {
            std::string mine = ourPath(oursLive, rel);
            ASSERT_TRUE(oursLive.count(mine)) << "not recovered: " << path;
            // tsk_recover writes no file for an empty one.
            static const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
            std::string want = theirsLive.count(rel) ? theirsLive[rel] : kEmpty;
            EXPECT_EQ(oursLive[mine], want) << path;
            std::uint64_t wantSize = theirsLive.count(rel) ? std::filesystem::file_size(tskLive.path() / path.substr(1)) : 0;
            EXPECT_EQ(sizes[mine.substr(1)], wantSize) << path;
            ++liveCompared;
            continue;
        }
        // A deleted file TSK could still read, listed once by us under the same path.
        std::string mine = ourPath(oursAll, rel);
        if (!theirsDeleted.count(rel) || names[mine.substr(1)] != 1 || oursLive.count(mine)) continue;
        // TSK stops a deleted file at the first cluster now in use; such a
        // file is not one it can still read.
        if (std::filesystem::file_size(tskDeleted.path() / path.substr(1)) != sizes[mine.substr(1)]) continue;
        ASSERT_TRUE(oursAll.count(mine)) << "deleted file not recovered: " << path;
        EXPECT_EQ(oursAll[mine], theirsDeleted[rel]) << "deleted " << path;
        ++deletedCompared;
    }
    EXPECT_GT(liveCompared, 0);
    RecordProperty("live_compared", liveCompared);
    RecordProperty("deleted_compared", deletedCompared);
    // Nothing we recovered as live is unknown to TSK, the orphan folder and metadata aside.
    for (const auto& [rel, hash] : oursLive) {
        std::string p = rel.substr(1);
        if (p.rfind("/$", 0) == 0 || p.rfind("/ORPHAN_ENTRY", 0) == 0) continue;
        bool known = listed.count(p) > 0 || anyType.count(p) > 0;  // a link is saved as its target's text
        for (auto it = listed.lower_bound(p.substr(0, p.size() / 2)); !known && it != listed.end(); ++it)
            known = p.rfind(it->first, 0) == 0 && it->first.size() >= 200;  // a name TSK cut short
        EXPECT_TRUE(known) << "we recovered " << p << " which TSK does not list";
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecoveryOracleTest,
                         ::testing::Values(OracleCase{"mbr-disk.raw", 2048, "--volume 0"},
                                           // Through a qcow2 chain of three (NTFS lies in the top
                                           // image, FAT16 in the middle one) and a VHDX.
                                           OracleCase{"mbr-disk.raw", 2048, "--volume 0", "", "mbr-chain-top.qcow2"},
                                           OracleCase{"mbr-disk.raw", 118784, "--volume 2", "", "mbr-chain-top.qcow2"},
                                           OracleCase{"mbr-disk.raw", 2048, "--volume 0", "", "mbr-disk.vhdx"},
                                           OracleCase{"mbr-disk.raw", 34816, "--volume 1", "", "mbr-disk.vhdx"},
                                           OracleCase{"ntfs-main.img", 0, "--start-sector 0 --fs ntfs"},
                                           OracleCase{"mbr-disk.raw", 34816, "--volume 1"},
                                           OracleCase{"mbr-disk.raw", 118784, "--volume 2"},
                                           OracleCase{"mbr-disk.raw", 153600, "--volume 3"},
                                           OracleCase{"gpt-disk.raw", 118784, "--gpt --volume 2"},
                                           OracleCase{"mbr-disk.raw", 172032, "--volume 4"},
                                           OracleCase{"gpt-disk.raw", 135168, "--gpt --volume 3"},
                                           OracleCase{"gpt-disk.raw", 151552, "--gpt --volume 4"},
                                           OracleCase{"mbr-disk.raw", 190464, "--start-sector 190464 --fs hfs+"},
                                           OracleCase{"hfs-2k.img", 0, "--start-sector 0 --fs hfs+"},
                                           OracleCase{"hfs-512.img", 0, "--start-sector 0 --fs hfs+"},
                                           OracleCase{"hfs-10ext.img", 0, "--start-sector 0 --fs hfs+"},
                                           OracleCase{"hfsx.img", 0, "--start-sector 0 --fs hfsx"},
                                           OracleCase{"ext4-1k.img", 0, "--start-sector 0 --fs ext4"},
                                           OracleCase{"ext4-small.img", 0, "--start-sector 0 --fs ext4"},
                                           OracleCase{"ext4-mounted.img", 0, "--start-sector 0 --fs ext4"},
                                           OracleCase{"ext4-inline.img", 0, "--start-sector 0 --fs ext4"},
                                           OracleCase{"ext3.img", 0, "--start-sector 0 --fs ext3"},
                                           OracleCase{"ext2.img", 0, "--start-sector 0 --fs ext2"},
                                           OracleCase{"ext2-nofiletype.img", 0, "--start-sector 0 --fs ext2"},
                                           OracleCase{"exfat-512.img", 0, "--start-sector 0 --fs exfat"},
                                           OracleCase{"exfat-4k.img", 0, "--start-sector 0 --fs exfat"},
                                           OracleCase{"exfat-32k.img", 0, "--start-sector 0 --fs exfat"},
                                           OracleCase{"fat16-512.img", 0, "--start-sector 0 --fs fat16", "fat16"},
                                           OracleCase{"fat16-2k.img", 0, "--start-sector 0 --fs fat16", "fat16"},
                                           OracleCase{"fat16-8k.img", 0, "--start-sector 0 --fs fat16", "fat16"},
                                           OracleCase{"fat16-32k.img", 0, "--start-sector 0 --fs fat16", "fat16"},
                                           OracleCase{"fat16-2k-msdos.img", 0, "--start-sector 0 --fs fat16", "fat16"},
                                           OracleCase{"fat32-512.img", 0, "--start-sector 0 --fs fat32", "fat32"},
                                           OracleCase{"fat32-4k.img", 0, "--start-sector 0 --fs fat32", "fat32"},
                                           OracleCase{"fat32-32k.img", 0, "--start-sector 0 --fs fat32", "fat32"},
                                           OracleCase{"fat32-4k-msdos.img", 0, "--start-sector 0 --fs fat32", "fat32"}),
                         [](const auto& info) {
                             std::string n = std::string(info.param.image) + "_" + std::to_string(info.param.offset);
                             if (info.param.ourImage) n += std::string("_as_") + info.param.ourImage;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace ondrel::test
