// ondrel-cli as a user scripts it: exit statuses, messages, JSON output.
#include "unit/ContainerBuilders.h"

#include <gtest/gtest.h>
#include <sstream>
#include <nlohmann/json.hpp>

namespace ondrel::test {

TEST(CliTest, VolumesAsJsonAndAsATable) {
    CliResult json = runCli("volumes --json " + quoted(fixture("mbr-disk.vhd")));
    ASSERT_EQ(json.status, 0) << json.out;
    auto volumes = nlohmann::json::parse(json.out);
    ASSERT_EQ(volumes.size(), 6u);
    EXPECT_EQ(volumes[0]["volume"], "0");
    EXPECT_EQ(volumes[0]["fileSystem"], "NTFS");
    EXPECT_EQ(volumes[0]["sizeText"], "16   MB");
    EXPECT_EQ(volumes[0]["sizeMB"], 16);
    EXPECT_EQ(volumes[0]["startSector"], 2048);

    CliResult table = runCli("volumes " + quoted(fixture("gpt-disk.raw")));
    EXPECT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("VOLUME"), std::string::npos);
    EXPECT_NE(table.out.find("--gpt"), std::string::npos) << "hint about the protective MBR";

    CliResult sweep = runCli("volumes --sweep --json " + quoted(fixture("swept-disk.raw")));
    ASSERT_EQ(sweep.status, 0) << sweep.out;
    EXPECT_EQ(nlohmann::json::parse(sweep.out).size(), 6u);
}

TEST(CliTest, InfoShowsKindSizeAndGeometry) {
    CliResult vhd = runCli("info " + quoted(fixture("mbr-disk.vhd")));
    ASSERT_EQ(vhd.status, 0) << vhd.out;
    EXPECT_NE(vhd.out.find("dynamic VHD"), std::string::npos);
    EXPECT_NE(vhd.out.find("196608"), std::string::npos) << "sector count";
    EXPECT_NE(vhd.out.find("MAXIMUM TABLE ENTRIES:"), std::string::npos);
    CliResult fixed = runCli("info " + quoted(fixture("mbr-disk-fixed.vhd")));
    EXPECT_NE(fixed.out.find("fixed VHD"), std::string::npos);
    EXPECT_NE(fixed.out.find("196608"), std::string::npos) << "the footer is not part of the disk";
    CliResult vmdk = runCli("info --type vmdk " + quoted(fixture("mbr-disk.vmdk")));
    EXPECT_NE(vmdk.out.find("monolithicSparse"), std::string::npos);
}

TEST(CliTest, BadInputFailsWithAMessageAndStatusOne) {
    TempDir dir;
    writeFile(dir.file("empty.img"), {});
    ByteVector disk = patternDisk(4 << 20);
    ByteVector vhd = buildDynamicVhd(disk);
    writeFile(dir.file("cut.vhd"), ByteVector(vhd.begin(), vhd.begin() + static_cast<std::ptrdiff_t>(vhd.size() / 2)));
    ByteVector vdi = buildVdi(disk);
    putLe(vdi, 0x178, 0, 4);
    writeFile(dir.file("bad.vdi"), vdi);
    VmdkLayout noDescriptor;
    noDescriptor.withDescriptor = false;
    writeFile(dir.file("nodesc.vmdk"), buildVmdk(disk, noDescriptor));

    for (std::string name : {"missing.img", "empty.img", "cut.vhd", "bad.vdi", "nodesc.vmdk"}) {
        CliResult r = runCli("volumes " + quoted(dir.file(name)));
        EXPECT_EQ(r.status, 1) << name << ": " << r.out;
        EXPECT_NE(r.out.find("ondrel-cli: "), std::string::npos) << name;
    }
    CliResult missing = runCli("info " + quoted(dir.file("missing.img")));
    EXPECT_NE(missing.out.find("No such file"), std::string::npos) << missing.out;
}

TEST(CliTest, BadArgumentsGiveStatusTwo) {
    EXPECT_EQ(runCli("").status, 2);
    EXPECT_EQ(runCli("frobnicate x").status, 2);
    EXPECT_EQ(runCli("volumes").status, 2);
    EXPECT_EQ(runCli("volumes --type qcow4 x.img").status, 2);
    EXPECT_EQ(runCli("volumes --start-sector 5 x.img").status, 2) << "only with --sweep";
    EXPECT_EQ(runCli("--help").status, 0);
}

TEST(CliTest, ExportWritesTheRawDiskAndCountsNames) {
    TempDir out;
    CliResult first = runCli("export " + quoted(fixture("mbr-disk.vdi")) + " " + quoted(out.path().string()));
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(readFile(out.file("mbr-disk.vdi.img")), readFile(fixture("mbr-disk.raw")));
    CliResult second = runCli("export " + quoted(fixture("mbr-disk.vdi")) + " " + quoted(out.path().string()));
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_TRUE(std::filesystem::exists(out.file("1mbr-disk.vdi.img")));
    EXPECT_EQ(runCli("export " + quoted(fixture("mbr-disk.vdi")) + " " + quoted(out.file("nope"))).status, 2);
}

TEST(CliTest, LsListsTheRecoveredTreeAsLinesOrJson) {
    CliResult ls = runCli("ls --volume 0 " + quoted(fixture("mbr-disk.vhd")));
    ASSERT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("/docs/readme.txt\tf\t127\tlive\t"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("/docs\td\t0\tlive\t"), std::string::npos);
    EXPECT_NE(ls.out.find("/deleted-note.txt\tf\t6009\tdeleted\t"), std::string::npos);
    EXPECT_NE(ls.out.find("/ORPHAN_ENTRY\td"), std::string::npos);

    CliResult json = runCli("ls --json --volume 0 " + quoted(fixture("mbr-disk.raw")));
    ASSERT_EQ(json.status, 0);
    bool seen = false;
    std::istringstream lines(json.out);
    for (std::string line; std::getline(lines, line);) {
        auto o = nlohmann::json::parse(line);
        for (const char* key : {"path", "type", "size", "deleted", "created", "accessed", "modified", "attributes"})
            EXPECT_TRUE(o.contains(key)) << key;
        if (o["path"] == "/docs/deep/nested.txt") {
            seen = true;
            EXPECT_EQ(o["size"], 440);
            EXPECT_EQ(o["deleted"], false);
            EXPECT_EQ(o["modified"].get<std::string>().back(), 'Z') << "NTFS stores UTC";
        }
    }
    EXPECT_TRUE(seen);
}

TEST(CliTest, RecoverSavesAFolderAndSearchFindsByPattern) {
    TempDir out;
    CliResult r = runCli("recover --volume 0 --path /docs --out " + quoted(out.path().string()) + " " + quoted(fixture("mbr-disk.raw")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("saved 2 files, 0 failed"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(out.file("readme.txt")).size(), 127u);
    EXPECT_EQ(readFile(out.file("deep/nested.txt")).size(), 440u);

    CliResult s = runCli("search --volume 0 " + quoted(fixture("mbr-disk.raw")) + " 'README|NESTED'");
    ASSERT_EQ(s.status, 0) << s.out;
    EXPECT_NE(s.out.find("/docs/readme.txt\t"), std::string::npos);
    EXPECT_NE(s.out.find("/docs/deep/nested.txt\t"), std::string::npos);
    CliResult bad = runCli("search --volume 0 " + quoted(fixture("mbr-disk.raw")) + " '*.txt'");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("not a valid regular expression"), std::string::npos);
}

TEST(CliTest, VolumeChoiceAndAdvancedModeCandidates) {
    std::string image = quoted(fixture("mbr-disk.raw"));
    EXPECT_EQ(runCli("ls --volume 9 " + image).status, 1);
    EXPECT_EQ(runCli("ls " + image).status, 1) << "no volume chosen";
    EXPECT_EQ(runCli("ls --start-sector 2048 --size-mb 16 --fs hfsx " + image).status, 1);
    CliResult advanced = runCli("ls --mode advanced --start-sector 2048 --size-mb 16 --fs ntfs " + image);
    ASSERT_EQ(advanced.status, 0) << advanced.out;
    EXPECT_NE(advanced.out.find("MFT_ENTRY:0"), std::string::npos);
    CliResult chosen = runCli("ls --mode advanced --mft-entry 0 --start-sector 2048 --size-mb 16 --fs ntfs " + image);
    ASSERT_EQ(chosen.status, 0) << chosen.out;
    EXPECT_NE(chosen.out.find("/docs/readme.txt"), std::string::npos);
    CliResult deep = runCli("ls --mode deep --volume 0 " + image);
    ASSERT_EQ(deep.status, 0);
    EXPECT_NE(deep.out.find("/ORPHAN_ENTRY/"), std::string::npos);
}

// Further images follow the first, before a trailing OUTPUT_FOLDER or REGEX;
// a volume group missing a disk is listed, and the exit status says it is partial.
TEST(CliTest, SeveralImagesAreOneMachineAndAMissingDiskIsAFailure) {
    const std::string a = quoted(fixture("lvm-pair-a.img")), b = quoted(fixture("lvm-pair-b.img"));
    CliResult both = runCli("volumes " + a + " " + b);
    ASSERT_EQ(both.status, 0) << both.out;
    EXPECT_NE(both.out.find("vgpair/span [disk 1]"), std::string::npos) << both.out;
    CliResult alone = runCli("volumes " + b);
    EXPECT_EQ(alone.status, 1) << alone.out;
    EXPECT_NE(alone.out.find("misses its physical volume pv0"), std::string::npos) << alone.out;
    TempDir out;
    CliResult json = runCli("volumes --json " + a + " " + b + " 2>/dev/null");
    const std::size_t span = json.out.find("\"vgpair/span\"");
    ASSERT_NE(span, std::string::npos);
    const std::size_t at = json.out.rfind("\"volume\": \"", span);
    const std::string number = json.out.substr(at + 11, json.out.find('"', at + 11) - at - 11);
    CliResult exported = runCli("export --volume " + number + " " + a + " " + b + " " + quoted(out.path().string()));
    ASSERT_EQ(exported.status, 0) << exported.out;
    EXPECT_NE(exported.out.find(".volume" + number), std::string::npos) << exported.out;
    CliResult found = runCli("search --volume " + number + " " + a + " " + b + " blob");
    ASSERT_EQ(found.status, 0) << found.out;
    EXPECT_NE(found.out.find("blob.bin"), std::string::npos) << found.out;
    EXPECT_NE(runCli("export " + a).status, 0);  // no OUTPUT_FOLDER
}

}  // namespace ondrel::test
