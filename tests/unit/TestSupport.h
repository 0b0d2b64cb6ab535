#pragma once
// Shared helpers of the test suites: temporary folders, files, fixture paths.
#include "diskimage/readWriteInterface.h"
#include "fs/FileSystemAdapter.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ondrel::test {

using ByteVector = std::vector<std::uint8_t>;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const ByteVector& bytes);
ByteVector readFile(const std::string& path);

// Path of an unpacked fixture image; empty when it is missing.
std::string fixture(const std::string& name);

// Reads the whole disk through the reader in chunks of chunkBytes.
ByteVector readWholeDisk(readWriteInterface& reader, std::uint32_t chunkBytes = 1 << 20);

// A byte pattern that differs in every sector, so misplaced sectors show.
ByteVector patternDisk(std::size_t bytes, std::uint32_t seed = 1);

// Puts a little-endian or big-endian value into a buffer.
void putLe(ByteVector& b, std::size_t off, std::uint64_t value, int bytes);
void putBe(ByteVector& b, std::size_t off, std::uint64_t value, int bytes);

// Chooses an advanced-mode candidate; false (with the reason printed) when refused.
bool choose(FileSystemAdapter& adapter, int choice, int sectorsPerCluster, int heap = 0);

// ondrel-cli run with args: its exit status and what it printed (stdout and stderr).
struct CliResult {
    int status = -1;
    std::string out;
};
CliResult runCli(const std::string& args);
// A path in single quotes, for a shell command line.
inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Runs a command; returns its exit status and fills out with its stdout.
int runCommand(const std::string& command, std::string* out = nullptr);

// The tab-separated cells of each line of tests/fixtures/images/<file>, '#' lines left out.
std::vector<std::vector<std::string>> manifestRows(const std::string& file);

// One line of a fixture manifest (IMAGE, STATE, SIZE, SHA256, PATH).
struct ManifestLine {
    std::string state, size, hash, path;
};
// The lines of one image in a manifest of tests/fixtures/images/.
std::vector<ManifestLine> fixtureManifest(const std::string& manifestFile, const std::string& image);

// Saves everything a scanned adapter shows into a temporary folder; the
// SHA-256 of each saved file by its path.
std::map<std::string, std::string> saveAllHashes(FileSystemAdapter& adapter);

}  // namespace ondrel::test
