// The Sleuth Kit's mmls as the oracle for volume discovery: on every fixture
// disk, ondrel-cli lists the data partitions at the same start sectors with
// the same sizes.
#include "unit/TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace ondrel::test {

namespace {

struct Slot {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::string description;
};

// Allocated partitions from mmls, without the table's own entries.
std::vector<Slot> mmlsPartitions(const std::string& image) {
    std::string out;
    if (runCommand("mmls '" + image + "' 2>/dev/null", &out) != 0) return {};
    std::vector<Slot> slots;
    std::regex row(R"(^\d+:\s+(\d+:\d+|\d+|Meta|-------)\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$)");
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        std::string slot = m[1];
        std::string desc = m[5];
        if (slot == "Meta" || slot == "-------") continue;
        if (desc.find("Extended") != std::string::npos || desc.find("GPT Header") != std::string::npos ||
            desc.find("Partition Table") != std::string::npos)
            continue;
        slots.push_back({std::stoll(m[2]), std::stoll(m[4]), desc});
    }
    return slots;
}

nlohmann::json ourVolumes(const std::string& image, const std::string& flags) {
    std::string out;
    int status = runCommand(std::string(ONDREL_CLI) + " volumes --json " + flags + " '" + image + "'", &out);
    if (status != 0) return nlohmann::json::array();
    return nlohmann::json::parse(out);
}

bool haveMmls() { return runCommand("command -v mmls >/dev/null 2>&1") == 0; }

}  // namespace

class MmlsOracleTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(MmlsOracleTest, SameStartsAndSizesAsMmls) {
    if (!haveMmls()) GTEST_SKIP() << "mmls (The Sleuth Kit) is not installed; install the sleuthkit package";
    auto [name, flags] = GetParam();
    std::string image = fixture(name);
    ASSERT_FALSE(image.empty()) << name;
    std::vector<Slot> theirs = mmlsPartitions(image);
    nlohmann::json ours = ourVolumes(image, flags);
    ASSERT_FALSE(theirs.empty()) << "mmls found nothing in " << name;

    std::map<std::int64_t, nlohmann::json> byStart;
    for (const auto& v : ours) byStart[v["startSector"].get<std::int64_t>()] = v;
    for (const Slot& s : theirs) {
        if (s.description.find("Microsoft reserved") != std::string::npos) continue;
        ASSERT_TRUE(byStart.count(s.start)) << name << ": no volume at " << s.start << " (" << s.description << ")";
        const auto& v = byStart[s.start];
        std::int64_t mb = v["sizeMB"].get<std::int64_t>();
        // Table-derived sizes match exactly; sizes read from a file system's
        // own boot record may end up to one megabyte before its partition.
        EXPECT_LE(mb, s.length / 2048) << name << " @" << s.start;
        EXPECT_GE(mb, s.length / 2048 - 1) << name << " @" << s.start;
        byStart.erase(s.start);
    }
    EXPECT_TRUE(byStart.empty()) << name << ": volumes mmls does not list: " << byStart.size();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MmlsOracleTest,
                         ::testing::Values(std::make_pair("mbr-disk.raw", ""), std::make_pair("gpt-disk.raw", "--gpt"),
                                           std::make_pair("mbr-disk-fixed.vhd", "")));

TEST(MmlsOracle, MbrScanSizesAreExactlyTheTableSizes) {
    if (!haveMmls()) GTEST_SKIP() << "mmls (The Sleuth Kit) is not installed";
    std::string image = fixture("mbr-disk.raw");
    std::vector<Slot> theirs = mmlsPartitions(image);
    nlohmann::json ours = ourVolumes(image, "");
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        EXPECT_EQ(ours[i]["startSector"].get<std::int64_t>(), theirs[i].start);
        EXPECT_EQ(ours[i]["sizeMB"].get<std::int64_t>(), theirs[i].length / 2048);
    }
}

}  // namespace ondrel::test
