// The Sleuth Kit's istat as the oracle for HFS+ time stamps: every file saved by
// `ondrel-cli recover` carries istat's "Content Modified" as its modification
// time and "Accessed" as its access time, whatever the time zone the recovery
// runs in (catalog dates are UTC instants).
#include "unit/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <iomanip>
#include <map>
#include <regex>
#include <sstream>

namespace ondrel::test {

namespace {

struct TimesCase {
    const char* image;
    std::int64_t offset;
    const char* volumeArgs;
};

std::int64_t utcSeconds(const std::string& text) {  // "2024-01-01 00:00:00"
    std::tm t{};
    std::istringstream in(text);
    in >> std::get_time(&t, "%Y-%m-%d %H:%M:%S");
    return static_cast<std::int64_t>(timegm(&t));
}

class HfsTimesOracleTest : public ::testing::TestWithParam<TimesCase> {};

}  // namespace

TEST_P(HfsTimesOracleTest, SavedFilesCarryTheContentModifiedAndAccessedDates) {
    if (runCommand("command -v istat >/dev/null 2>&1") != 0) GTEST_SKIP() << "istat (sleuthkit) is not installed";
    const TimesCase& c = GetParam();
    std::string image = fixture(c.image);
    if (image.empty()) GTEST_SKIP() << c.image << " is not among the fixtures";
    const std::string tsk = " -o " + std::to_string(c.offset) + " '" + image + "' ";
    std::string listing;
    runCommand("fls -r -p" + tsk + "2>/dev/null", &listing);
    std::regex row(R"(^r/r (\d+):\t(.*)$)");
    struct Want {
        std::int64_t modified, accessed;
    };
    std::map<std::string, Want> want;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row) || m[2].str().rfind("$", 0) == 0) continue;
        // Forty files, and every one the fixtures gave times of their own.
        if (want.size() >= 40 && m[2].str().rfind("times/", 0) != 0) continue;
        std::string stat;
        runCommand("TZ=UTC istat" + tsk + m[1].str(), &stat);
        std::smatch mod, acc;
        static const std::regex modified(R"(\nContent Modified:\t(\S+ \S+) \(UTC\))"), accessed(R"(\nAccessed:\t(\S+ \S+) \(UTC\))");
        if (!std::regex_search(stat, mod, modified) || !std::regex_search(stat, acc, accessed)) continue;
        want[m[2]] = {utcSeconds(mod[1]), utcSeconds(acc[1])};
    }
    ASSERT_FALSE(want.empty());
    for (const char* zone : {"UTC", "America/St_Johns"}) {
        TempDir out;
        ASSERT_EQ(runCommand(std::string("TZ=") + zone + " " + ONDREL_CLI + " recover '" + image + "' " + c.volumeArgs +
                             " --out '" + out.path().string() + "' >/dev/null 2>&1"),
                  0);
        for (const auto& [path, w] : want) {
            struct stat st {};
            ASSERT_EQ(::stat((out.path() / path).c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_mtime, w.modified) << zone << " " << path;
            EXPECT_EQ(st.st_atime, w.accessed) << zone << " " << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HfsTimesOracleTest,
                         ::testing::Values(TimesCase{"gpt-disk.raw", 151552, "--gpt --volume 4"},
                                           TimesCase{"hfs-2k.img", 0, "--start-sector 0 --fs hfs+"},
                                           TimesCase{"hfs-10ext.img", 0, "--start-sector 0 --fs hfs+"}));

}  // namespace ondrel::test
