// A split raw image: the first byte gives the number of parts (1 to 8) and
// which of them is missing, the next bytes each part's length in sectors and
// bytes; the rest is the parts' content. The parts are written beside each
// other, the first one opened, and the disk sampled.
#include "diskimage/SplitRawReader.h"
#include "fuzz/FuzzSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t parts = 1 + data[0] % 8;
    const std::size_t missing = (data[0] >> 3) % 9;  // 0: none; k: part k
    if (size < 1 + parts * 2) return 0;
    std::string folder = (std::filesystem::temp_directory_path() / "ondrel-fuzz-split-XXXXXX").string();
    if (!::mkdtemp(folder.data())) return 0;
    std::size_t at = 1 + parts * 2;
    for (std::size_t k = 0; k < parts; ++k) {
        // Lengths of up to 64 sectors and a few bytes more, so parts end mid-sector.
        std::size_t length = (data[1 + k * 2] % 64) * 512 + data[2 + k * 2] % 8;
        char name[32];
        std::snprintf(name, sizeof name, "/disk.%03zu", k + 1);
        if (missing == k + 1) continue;
        std::ofstream f(folder + name, std::ios::binary);
        for (std::size_t i = 0; i < length; ++i) f.put(static_cast<char>(at < size ? data[at++] : 0));
    }
    ondrel::SplitRawReader reader;
    if (reader.open(folder + "/disk.001")) ondrel::fuzz::sampleDisk(reader);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
