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
    std::optional<std::int64_t> endSector;  // inclusive, as the wizard's custom volume
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
    std::shared_ptr<readWriteInterface> reader;
    std::vector<std::shared_ptr<readWriteInterface>> further;  // the images given after the first
    VolumeRecord record;
    std::unique_ptr<FileSystemAdapter> adapter;
    std::unique_ptr<TerminalObserver> observer;
    std::unique_ptr<ScanDriver> driver;
    bool listedCandidatesOnly = false;  // advanced mode without a choice: the candidates were printed
};

// The volume numbered as `ondrel-cli volumes` lists it (from the GPT or the
// sweep when asked); prints why and returns nullopt when there is none.
std::optional<VolumeRecord> numberedVolume(const std::vector<std::shared_ptr<const ByteSource>>& disks, int number, bool gpt,
                                          bool sweep);

// The first image and the further ones, as discovery takes them.
std::vector<std::shared_ptr<const ByteSource>> disksOf(const std::shared_ptr<readWriteInterface>& first,
                                                       const std::vector<std::shared_ptr<readWriteInterface>>& further);

// A volume the user places: from startSector, ending with endSector
// (inclusive) or sizeMb MiB later, or at the disk's end. Prints why and
// returns nullopt when it holds nothing.
std::optional<VolumeRecord> placedVolume(std::shared_ptr<const ByteSource> disk, const std::string& fileSystem,
                                         std::int64_t startSector, std::optional<std::int64_t> sizeMb,
                                         std::optional<std::int64_t> endSector);

// Opens, selects and scans; prints why and returns nullopt on failure.
std::optional<ScannedVolume> scanVolume(VolumeOptions& options);

}  // namespace ondrel::cli
