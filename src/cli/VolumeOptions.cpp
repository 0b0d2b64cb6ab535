#include "cli/VolumeOptions.h"

#include "fs/fat/FatAdapter.h"
#include "fs/ntfs/NtfsAdapter.h"
#include "results/AdapterFactory.h"
#include "volumes/Partition.h"

#include <cstdio>

namespace ondrel::cli {

void VolumeOptions::addTo(CLI::App& command) {
    image.addTo(command, false);
    auto* vol = command.add_option("--volume", volume, "Volume number as `ondrel-cli volumes` lists it");
    auto* start = command.add_option("--start-sector", startSector, "First sector of the volume");
    command.add_option("--size-mb", sizeMb, "Volume size in MiB (with --start-sector)")->needs(start);
    command.add_option("--fs", fs, "File system of the volume (with --start-sector): ntfs, fat16, fat32, ...")->needs(start);
    vol->excludes(start);
    command.add_flag("--gpt", gpt, "Number volumes from the GPT");
    command.add_flag("--sweep", sweep, "Number volumes as the sector sweep finds them");
    command.add_option("--mode", mode, "Recovery mode")->check(CLI::IsMember({"standard", "advanced", "deep"}));
    command.add_option("--mft-entry", mftEntry, "Advanced mode: the found MFT record to read the MFT from");
    command.add_option("--fat-entry", fatEntry, "Advanced mode (FAT): the found FAT copy to read chains from");
    command.add_option("--sectors-per-cluster", sectorsPerCluster, "Advanced mode: sectors per cluster");
    command.add_option("--max-found", maxFound, "Advanced mode: how many MFT records or FAT copies to look for");
    command.add_flag("--json", json, "JSON output, one object per line");
    command.add_flag("--formatted", formatted,
                     "\"Is Drive Formated..?\": FAT chains are not followed; data comes from consecutive clusters");
}

namespace {
int modeNumber(const std::string& mode) { return mode == "advanced" ? 2 : mode == "deep" ? 3 : 1; }
}  // namespace

std::optional<ScannedVolume> scanVolume(VolumeOptions& o) {
    ScannedVolume v;
    ImageKind kind{};
    v.reader = o.image.open(kind);
    if (!v.reader) return std::nullopt;

    if (o.volume) {
        std::vector<VolumeRecord> records;
        Partition partition(records, silentObserver());
        partition.gptMode = o.gpt;
        if (o.sweep) partition.sweepVolumes(*v.reader);
        else partition.scanPartitionTables(*v.reader);
        if (*o.volume < 0 || *o.volume >= static_cast<int>(records.size())) {
            printError("no volume " + std::to_string(*o.volume) + ": the image has " + std::to_string(records.size()) +
                       " (see `ondrel-cli volumes`)");
            return std::nullopt;
        }
        v.record = records[static_cast<std::size_t>(*o.volume)];
    } else if (o.startSector) {
        v.record.fileSystem = o.fs;
        v.record.volumeName = "0";
        v.record.startSector = *o.startSector;
        std::int64_t sizeMb = o.sizeMb.value_or(
            static_cast<std::int64_t>((v.reader->sectorCount() - static_cast<std::uint64_t>(*o.startSector)) / 2048));
        v.record.sizeText = std::to_string(sizeMb);
    } else {
        printError("choose a volume with --volume N, or --start-sector S --size-mb M --fs NAME");
        return std::nullopt;
    }

    driveFormatted = o.formatted;
    v.adapter = createAdapter(*v.reader, v.record);
    if (!v.adapter) {
        printError("not a valid drive. (file system \"" + v.record.fileSystem + "\" cannot be read)");
        return std::nullopt;
    }
    v.observer = std::make_unique<TerminalObserver>(o.image.verbose, false);
    v.driver = std::make_unique<ScanDriver>(*v.adapter, *v.observer);
    v.observer->setControl(&v.driver->control());
    int mode = modeNumber(o.mode);
    if (mode == 2) {
        if (auto* fat = dynamic_cast<FatAdapter*>(v.adapter.get())) {
            auto found = fat->findFatCopies(o.maxFound, *v.observer, v.driver->control());
            const char* label = fat->parser().fat32() ? "FAT32" : "FAT";
            if (!o.fatEntry) {
                std::printf("Number of %s-ENTRY found = %zu\n", label, found.size());
                for (std::size_t i = 0; i < found.size(); ++i)
                    std::printf("%s_ENTRY:%zu\tbyte offset %lld in the volume\n", label, i, static_cast<long long>(found[i]));
                if (int spc = fat->parser().bootSectorsPerCluster(); spc > 0)
                    std::printf("sectors per cluster (from the boot sector): %d\n", spc);
                v.listedCandidatesOnly = true;
                return v;
            }
            if (*o.fatEntry < 0 || (*o.fatEntry >= static_cast<int>(found.size()) && !found.empty())) {
                printError("no " + std::string(label) + "_ENTRY:" + std::to_string(*o.fatEntry) + " (found " +
                           std::to_string(found.size()) + ")");
                return std::nullopt;
            }
            int spc = o.sectorsPerCluster > 0 ? o.sectorsPerCluster : fat->parser().bootSectorsPerCluster();
            fat->chooseFat(*o.fatEntry, spc);
        } else if (auto* ntfsAdapter = dynamic_cast<NtfsAdapter*>(v.adapter.get())) {
            int found = ntfsAdapter->findMftRecords(o.maxFound, *v.observer, v.driver->control());
            if (!o.mftEntry) {
                std::printf("Number of MFT-ENTRY found = %d\n", found);
                for (int i = 0; i < found; ++i)
                    std::printf("MFT_ENTRY:%d\tbyte offset %lld in the volume\n", i,
                                static_cast<long long>(ntfsAdapter->foundMft()[static_cast<std::size_t>(i)].diskOffset));
                v.listedCandidatesOnly = true;
                return v;
            }
            if (*o.mftEntry < 0 || *o.mftEntry >= found) {
                printError("no MFT_ENTRY:" + std::to_string(*o.mftEntry) + " (found " + std::to_string(found) + ")");
                return std::nullopt;
            }
            ntfsAdapter->chooseMft(*o.mftEntry, o.sectorsPerCluster);
        } else {
            printError("the advanced mode of this file system is not available");
            return std::nullopt;
        }
    }
    if (!v.driver->run(mode)) return std::nullopt;
    return v;
}

}  // namespace ondrel::cli
