// Where the signature definitions are looked for: the user's data folder,
// the system's, the installation's and the program's own, first found wins;
// and the user's file, when the wizard first adds to it, starts from the
// definitions in use.
#include "carving/DefaultSignatures.h"
#include "platform/DataFolders.h"
#include "platform/ExecutablePath.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace ondrel::test {

namespace {
// Sets variables for one test and puts back what was there.
class Environment {
public:
    ~Environment() {
        for (auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    void set(const std::string& name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) setenv(name.c_str(), value, 1);
        else unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

void touch(const std::string& path, const ByteVector& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, bytes);
}
}  // namespace

TEST(SettingsLookupTest, TheFoldersComeInTheDesktopsOrderAndTheFirstFileFoundIsRead) {
    TempDir dir;
    Environment env;
    env.set("HOME", dir.file("home").c_str());
    env.set("XDG_DATA_HOME", nullptr);
    env.set("XDG_DATA_DIRS", (dir.file("sys1") + ":relative/ignored:" + dir.file("sys2")).c_str());
    EXPECT_EQ(userDataFolder(), dir.file("home") + "/.local/share/ondrel");
    EXPECT_EQ(systemDataFolders(), (std::vector<std::string>{dir.file("sys1") + "/ondrel", dir.file("sys2") + "/ondrel"}));
    const std::vector<std::string> path = settingsSearchPath();
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(path[0], dir.file("home") + "/.local/share/ondrel/FileSetting.txt");
    EXPECT_EQ(path[1], dir.file("sys1") + "/ondrel/FileSetting.txt");
    EXPECT_EQ(path[2], dir.file("sys2") + "/ondrel/FileSetting.txt");
    // The installation's share/ondrel lies beside the program's bin folder; the program's own folder comes last.
    EXPECT_EQ(path[3], (std::filesystem::path(executableFolder()).parent_path() / "share/ondrel/FileSetting.txt").string());
    EXPECT_EQ(path.back(), executableFolder() + "/FileSetting.txt");

    // A test build has none installed: the one beside the program, if the build wrote it, else the built-in table.
    const std::string beside = executableFolder() + "/FileSetting.txt";
    EXPECT_EQ(findSettingsFile(), std::filesystem::exists(beside) ? beside : std::string());
    touch(path[2], {1});
    EXPECT_EQ(findSettingsFile(), path[2]);
    touch(path[1], {2});
    EXPECT_EQ(findSettingsFile(), path[1]);
    touch(path[0], {3});
    EXPECT_EQ(findSettingsFile(), path[0]);

    // XDG_DATA_HOME, when absolute, stands before HOME; unset data dirs mean the standard two.
    env.set("XDG_DATA_HOME", dir.file("data").c_str());
    env.set("XDG_DATA_DIRS", nullptr);
    EXPECT_EQ(userSettingsPath(), dir.file("data") + "/ondrel/FileSetting.txt");
    EXPECT_EQ(systemDataFolders(), (std::vector<std::string>{"/usr/local/share/ondrel", "/usr/share/ondrel"}));
    env.set("XDG_DATA_HOME", "not/absolute");
    EXPECT_EQ(userSettingsPath(), dir.file("home") + "/.local/share/ondrel/FileSetting.txt");
}

TEST(SettingsLookupTest, TheUsersFileStartsAsACopyOfTheDefinitionsInUse) {
    TempDir dir;
    Environment env;
    env.set("HOME", dir.file("home").c_str());
    env.set("XDG_DATA_HOME", dir.file("data").c_str());
    env.set("XDG_DATA_DIRS", dir.file("sys").c_str());
    std::string message;

    // A system copy in use: the user's file begins with its bytes.
    const std::string system = dir.file("sys") + "/ondrel/FileSetting.txt";
    std::filesystem::create_directories(std::filesystem::path(system).parent_path());
    ASSERT_TRUE(writeDefaultSettings(system));
    ASSERT_TRUE(ensureUserSettings(message)) << message;
    EXPECT_EQ(readFile(userSettingsPath()), readFile(system));
    EXPECT_EQ(findSettingsFile(), userSettingsPath());
    // Present already: left as it is.
    writeFile(userSettingsPath(), {9, 9});
    ASSERT_TRUE(ensureUserSettings(message));
    EXPECT_EQ(readFile(userSettingsPath()), (ByteVector{9, 9}));

    // No file anywhere but the program's own: the user's copy is that one,
    // else the built-in definitions written out.
    std::filesystem::remove(userSettingsPath());
    std::filesystem::remove(system);
    ASSERT_TRUE(ensureUserSettings(message)) << message;
    std::vector<SignatureRecord> records;
    ASSERT_TRUE(loadSignatureRecords(userSettingsPath(), records, message)) << message;
    EXPECT_EQ(records.size(), defaultSignatures().size());

    // Without any home there is no user file to write.
    env.set("XDG_DATA_HOME", nullptr);
    env.set("HOME", nullptr);
    EXPECT_EQ(userSettingsPath(), "");
    EXPECT_FALSE(ensureUserSettings(message));
    EXPECT_NE(message.find("HOME"), std::string::npos);
}

}  // namespace ondrel::test
