// The Sleuth Kit as the oracle for file recovery (NTFS, FAT16, FAT32): the live
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

// Regular files with their $DATA inode, by "/"-path.
std::map<std::string, TskFile> tskFiles(const std::string& image, std::int64_t offset) {
    std::string out;
    runCommand("fls -r -p -o " + std::to_string(offset) + " '" + image + "' 2>/dev/null", &out);
    std::map<std::string, TskFile> files;
    // NTFS names the $DATA attribute ("64-128-2"); FAT has plain inode numbers.
    std::regex row(R"(^(\S)/(\S) (\* )?(\d+)(-128-\d+)?:\t(.*)$)");
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row) || m[2] != "r") continue;
        std::string path = "/" + m[6].str();
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
};

class RecoveryOracleTest : public ::testing::TestWithParam<OracleCase> {};

}  // namespace

TEST_P(RecoveryOracleTest, RecoveredFilesEqualWhatTheSleuthKitReads) {
    if (!haveTsk()) GTEST_SKIP() << "The Sleuth Kit (fls, tsk_recover) is not installed; install the sleuthkit package";
    const OracleCase& c = GetParam();
    std::string image = fixture(c.image);
    if (image.empty()) GTEST_SKIP() << c.image << " is not among the fixtures";
    auto listed = tskFiles(image, c.offset);
    ASSERT_FALSE(listed.empty());

    // TSK's reading: allocated files, and deleted files as far as it can read them.
    TempDir tskLive, tskDeleted, live, all;
    std::string offset = " -o " + std::to_string(c.offset) + " '" + image + "' ";
    ASSERT_EQ(runCommand("tsk_recover -a" + offset + "'" + tskLive.path().string() + "' >/dev/null 2>&1"), 0);
    runCommand("tsk_recover" + offset + "'" + tskDeleted.path().string() + "' >/dev/null 2>&1");
    auto theirsLive = folderHashes(tskLive.path());
    auto theirsDeleted = folderHashes(tskDeleted.path());

    std::string base = std::string(ONDREL_CLI) + " recover '" + image + "' " + c.volumeArgs;
    ASSERT_EQ(runCommand(base + " --live-only --out '" + live.path().string() + "' >/dev/null 2>&1"), 0);
    runCommand(base + " --out '" + all.path().string() + "' >/dev/null 2>&1");
    auto oursLive = folderHashes(live.path());
    auto oursAll = folderHashes(all.path());

    std::string listing;
    runCommand(std::string(ONDREL_CLI) + " ls --json '" + image + "' " + c.volumeArgs, &listing);
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
            ASSERT_TRUE(oursLive.count(rel)) << "not recovered: " << path;
            // tsk_recover writes no file for an empty one.
            static const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
            std::string want = theirsLive.count(rel) ? theirsLive[rel] : kEmpty;
            EXPECT_EQ(oursLive[rel], want) << path;
            std::uint64_t wantSize = theirsLive.count(rel) ? std::filesystem::file_size(tskLive.path() / path.substr(1)) : 0;
            EXPECT_EQ(sizes[path], wantSize) << path;
            ++liveCompared;
            continue;
        }
        // A deleted file TSK could still read, listed once by us under the same path.
        if (!theirsDeleted.count(rel) || names[path] != 1 || oursLive.count(rel)) continue;
        ASSERT_TRUE(oursAll.count(rel)) << "deleted file not recovered: " << path;
        EXPECT_EQ(oursAll[rel], theirsDeleted[rel]) << "deleted " << path;
        ++deletedCompared;
    }
    EXPECT_GT(liveCompared, 0);
    RecordProperty("live_compared", liveCompared);
    RecordProperty("deleted_compared", deletedCompared);
    // Nothing we recovered as live is unknown to TSK, the orphan folder and metadata aside.
    for (const auto& [rel, hash] : oursLive) {
        std::string p = rel.substr(1);
        if (p.rfind("/$", 0) == 0 || p.rfind("/ORPHAN_ENTRY", 0) == 0) continue;
        EXPECT_TRUE(listed.count(p)) << "we recovered " << p << " which TSK does not list";
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecoveryOracleTest,
                         ::testing::Values(OracleCase{"mbr-disk.raw", 2048, "--volume 0"},
                                           OracleCase{"ntfs-main.img", 0, "--start-sector 0 --fs ntfs"},
                                           OracleCase{"mbr-disk.raw", 34816, "--volume 1"},
                                           OracleCase{"mbr-disk.raw", 118784, "--volume 2"}),
                         [](const auto& info) {
                             std::string n = std::string(info.param.image) + "_" + std::to_string(info.param.offset);
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace ondrel::test
