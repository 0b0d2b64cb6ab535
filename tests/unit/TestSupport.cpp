#include "unit/TestSupport.h"

#include "results/SaveWalk.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace ondrel::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "ondrel-test-XXXXXX").string();
    char* made = mkdtemp(templ.data());
    path_ = made ? made : templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const ByteVector& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ByteVector readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return {};
    ByteVector out(static_cast<std::size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return out;
}

std::string fixture(const std::string& name) {
    std::filesystem::path p = std::filesystem::path(ONDREL_FIXTURE_DIR) / name;
    return std::filesystem::exists(p) ? p.string() : std::string();
}

ByteVector readWholeDisk(readWriteInterface& reader, std::uint32_t chunkBytes) {
    std::uint64_t total = reader.sectorCount() * 512;
    ByteVector out(total);
    for (std::uint64_t pos = 0; pos < total; pos += chunkBytes) {
        auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunkBytes, total - pos));
        reader.readAt(static_cast<std::int64_t>(pos), out.data() + pos, n);
    }
    return out;
}

ByteVector patternDisk(std::size_t bytes, std::uint32_t seed) {
    ByteVector out(bytes);
    std::mt19937 gen(seed);
    for (std::size_t i = 0; i < bytes; i += 4) {
        std::uint32_t v = gen();
        for (std::size_t k = 0; k < 4 && i + k < bytes; ++k) out[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    return out;
}

void putLe(ByteVector& b, std::size_t off, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[off + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putBe(ByteVector& b, std::size_t off, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[off + i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

int runCommand(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        if (out) out->append(buf.data(), n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool choose(FileSystemAdapter& adapter, int choice, int sectorsPerCluster, int heap) {
    std::string failure;
    bool ok = adapter.chooseCandidate(AdvancedChoice{{choice, heap}, {sectorsPerCluster}}, failure);
    if (!ok) std::fprintf(stderr, "choice refused: %s\n", failure.c_str());
    return ok;
}

CliResult runCli(const std::string& args) {
    CliResult r;
    r.status = runCommand(std::string(ONDREL_CLI) + " " + args + " 2>&1", &r.out);
    return r;
}

std::vector<std::vector<std::string>> manifestRows(const std::string& file) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) cells.push_back(cell);
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::vector<ManifestLine> fixtureManifest(const std::string& manifestFile, const std::string& image) {
    std::vector<ManifestLine> out;
    std::ifstream f(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/" + manifestFile);
    for (std::string line; std::getline(f, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        std::string name;
        ManifestLine m;
        std::getline(in, name, '\t');
        std::getline(in, m.state, '\t');
        std::getline(in, m.size, '\t');
        std::getline(in, m.hash, '\t');
        std::getline(in, m.path);
        if (name == image) out.push_back(m);
    }
    return out;
}

std::map<std::string, std::string> saveAllHashes(FileSystemAdapter& adapter) {
    TempDir out;
    SaveWalk walk(adapter, silentObserver());
    walk.askFirst = false;
    walk.saveFolder(adapter.rootEntry(), out.path().string());
    std::string listing;
    runCommand("cd '" + out.path().string() + "' && find . -type f -print0 | xargs -0 -r sha256sum", &listing);
    std::map<std::string, std::string> hashes;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 68) hashes[line.substr(68)] = line.substr(0, 64);  // "hash  ./path"
    return hashes;
}

}  // namespace ondrel::test
