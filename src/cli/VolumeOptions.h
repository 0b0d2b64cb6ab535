#pragma once
// The options of the commands that read one volume (ls, recover, search): which
// volume, which recovery mode, and running the scan.
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"
#include "results/ScanDriver.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <optional>

namespace ondrel::cli {

struct VolumeOptions {
    ImageOptions image;
    std::optional<int> volume;
    std::optional<std::int64_t> startSector;
    std::optional<std::int64_t> sizeMb;
    std::string fs;
    bool gpt = false;
    bool sweep = false;
    std::string mode = "standard";
    std::optional<int> mftEntry;
    std::optional<int> fatEntry;
    std::optional<int> heapEntry;
    int sectorsPerCluster = 0;
    int maxFound = 3;
    bool json = false;
    bool formatted = false;

    void addTo(CLI::App& command);
};

// An opened image, the chosen volume and its scanned file system.
struct ScannedVolume {
    std::unique_ptr<readWriteInterface> reader;
    VolumeRecord record;
    std::unique_ptr<FileSystemAdapter> adapter;
    std::unique_ptr<TerminalObserver> observer;
    std::unique_ptr<ScanDriver> driver;
    bool listedCandidatesOnly = false;  // advanced mode without a choice: the candidates were printed
};

// The volume numbered as `ondrel-cli volumes` lists it (from the GPT or the
// sweep when asked); prints why and returns nullopt when there is none.
std::optional<VolumeRecord> numberedVolume(readWriteInterface& reader, int number, bool gpt, bool sweep);

// Opens, selects and scans; prints why and returns nullopt on failure.
std::optional<ScannedVolume> scanVolume(VolumeOptions& options);

}  // namespace ondrel::cli
