#include "cli/VolumeOptions.h"

#include "fs/FileSystemRegistry.h"
#include "volumes/Partition.h"

#include <cstdio>
#include <map>

namespace ondrel::cli {

void VolumeOptions::addTo(CLI::App& command) {
    image.addTo(command, false);
    auto* vol = command.add_option("--volume", volume, "Volume number as `ondrel-cli volumes` lists it");
    auto* start = command.add_option("--start-sector", startSector, "First sector of the volume");
    auto* size = command.add_option("--size-mb", sizeMb, "Volume size in MiB (with --start-sector)")->needs(start);
    command.add_option("--end-sector", endSector, "Last sector of the volume, inclusive (with --start-sector)")
        ->needs(start)
        ->excludes(size);
    std::string names;
    for (const FileSystemEntry* e : fileSystems()) names += (names.empty() ? "" : ", ") + e->cliName;
    command.add_option("--fs", fs, "File system of the volume (with --start-sector): " + names)->needs(start);
    vol->excludes(start);
    command.add_flag("--gpt", gpt, "Number volumes from the GPT");
    command.add_flag("--sweep", sweep, "Number volumes as the sector sweep finds them");
    // Which modes each file system offers, from the registry.
    std::string modes;
    for (const FileSystemEntry* e : fileSystems()) {
        std::string offered;
        for (RecoveryMode m : e->modes)
            offered += std::string(offered.empty() ? "" : "/") +
                       (m == RecoveryMode::Standard ? "standard" : m == RecoveryMode::Advanced ? "advanced" : "deep");
        modes += (modes.empty() ? "" : "; ") + e->cliName + " " + offered;
    }
    command.add_option("--mode", mode, "Recovery mode (" + modes + ")")
        ->check(CLI::IsMember({"standard", "advanced", "deep"}));
    command.add_option("--mft-entry", mftEntry, "Advanced mode: the found MFT record to read the MFT from");
    command.add_option("--fat-entry", fatEntry, "Advanced mode (FAT, exFAT): the found FAT copy to read chains from");
    command.add_option("--heap-entry", heapEntry, "Advanced mode (exFAT): the found start of the cluster heap");
    command.add_option("--sectors-per-cluster", sectorsPerCluster, "Advanced mode: sectors per cluster (a count)");
    command.add_option("--max-found", maxFound, "Advanced mode: how many MFT records or FAT copies to look for");
    command.add_flag("--json", json, "JSON output, one object per line");
    command.add_flag("--formatted", formatted,
                     "\"Is Drive Formated..?\": FAT chains are not followed; data comes from consecutive clusters");
}

namespace {
RecoveryMode modeFromName(const std::string& mode) {
    return mode == "advanced" ? RecoveryMode::Advanced : mode == "deep" ? RecoveryMode::Deep : RecoveryMode::Standard;
}
}  // namespace

std::vector<std::shared_ptr<const ByteSource>> disksOf(const std::shared_ptr<readWriteInterface>& first,
                                                       const std::vector<std::shared_ptr<readWriteInterface>>& further) {
    std::vector<std::shared_ptr<const ByteSource>> disks{first};
    disks.insert(disks.end(), further.begin(), further.end());
    return disks;
}

std::optional<VolumeRecord> numberedVolume(const std::vector<std::shared_ptr<const ByteSource>>& disks, int number, bool gpt,
                                          bool sweep) {
    std::vector<VolumeRecord> records;
    Partition partition(records, silentObserver(), fileSystemProbes());
    partition.gptMode = gpt;
    if (sweep) partition.sweepVolumes(disks);
    else partition.scanPartitionTables(disks);
    if (number < 0 || number >= static_cast<int>(records.size())) {
        printError("no volume " + std::to_string(number) + ": the image has " + std::to_string(records.size()) +
                   " (see `ondrel-cli volumes`)");
        return std::nullopt;
    }
    return records[static_cast<std::size_t>(number)];
}

std::optional<VolumeRecord> placedVolume(std::shared_ptr<const ByteSource> disk, const std::string& fileSystem,
                                         std::int64_t startSector, std::optional<std::int64_t> sizeMb,
                                         std::optional<std::int64_t> endSector) {
    std::int64_t length = 0;  // to the disk's end
    if (endSector) {
        if (*endSector < startSector) {
            printError("the end sector " + std::to_string(*endSector) + " lies before the start sector " +
                       std::to_string(startSector));
            return std::nullopt;
        }
        length = (*endSector - startSector + 1) * 512;
    } else if (sizeMb) {
        length = *sizeMb << 20;
    }
    VolumeRecord r = customVolume(std::move(disk), fileSystem, startSector, length);
    if (r.lengthBytes <= 0) {
        printError("zero size volume..");
        return std::nullopt;
    }
    return r;
}

std::optional<ScannedVolume> scanVolume(VolumeOptions& o) {
    ScannedVolume v;
    ImageKind kind{};
    v.reader = o.image.open(kind);
    if (!v.reader || !o.image.openFurther(v.further)) return std::nullopt;
    if (!v.further.empty() && !o.volume) {
        printError("with several images, choose the volume with --volume N (see `ondrel-cli volumes`)");
        return std::nullopt;
    }

    if (o.volume) {
        auto record = numberedVolume(disksOf(v.reader, v.further), *o.volume, o.gpt, o.sweep);
        if (!record) return std::nullopt;
        v.record = *record;
    } else if (o.startSector) {
        const FileSystemEntry* named = findFileSystem(o.fs);
        auto record = placedVolume(v.reader, named ? named->listName : o.fs, *o.startSector, o.sizeMb, o.endSector);
        if (!record) return std::nullopt;
        v.record = *record;
    } else {
        printError("choose a volume with --volume N, or --start-sector S --size-mb M --fs NAME");
        return std::nullopt;
    }

    // A volume missing part of its bytes is read as far as it goes; the exit status says so.
    if (v.record.incomplete) {
        printError("warning: volume " + v.record.volumeName + ": " + v.record.note);
        o.image.hadWarnings = true;
    }
    v.adapter = createAdapter(v.record);
    if (!v.adapter) {
        printError("not a valid drive. (file system \"" + v.record.fileSystem + "\" cannot be read)");
        return std::nullopt;
    }
    v.adapter->setDriveFormatted(o.formatted);
    v.observer = std::make_unique<TerminalObserver>(o.image.verbose, false);
    v.driver = std::make_unique<ScanDriver>(*v.adapter, *v.observer);
    v.observer->setControl(&v.driver->control());
    RecoveryMode mode = modeFromName(o.mode);
    if (!fileSystem(v.adapter->kind()).offers(mode)) {
        printError("the " + o.mode + " mode of " + v.adapter->fileSystemName() + " is not available");
        return std::nullopt;
    }
    if (mode == RecoveryMode::Advanced) {
        AdvancedSearch search = v.adapter->findCandidates(o.maxFound, *v.observer, v.driver->control());
        // Each list the search gave is chosen by the option of its name; the
        // first one by either entry option.
        std::map<std::string, std::optional<int>> given{
            {"mft-entry", o.mftEntry}, {"fat-entry", o.fatEntry}, {"heap-entry", o.heapEntry}};
        AdvancedChoice choice;
        bool unchosen = false;
        for (std::size_t i = 0; i < search.lists.size(); ++i) {
            const CandidateList& list = search.lists[i];
            int pick = -1;  // none given
            if (auto it = given.find(list.id); it != given.end() && it->second) pick = *it->second;
            if (pick < 0 && i == 0 && (o.mftEntry || o.fatEntry)) pick = o.mftEntry ? *o.mftEntry : *o.fatEntry;
            if (search.chooseWithoutAsking) {
                if (list.items.size() != 1) {
                    printError(search.message);
                    return std::nullopt;
                }
                pick = 0;
            }
            if (pick < 0 && i == 0) unchosen = true;
            choice.picks.push_back(pick < 0 ? 0 : pick);
        }
        for (std::size_t i = 0; i < search.parameters.size(); ++i) choice.values.push_back(o.sectorsPerCluster);
        if (unchosen) {
            for (const CandidateList& list : search.lists) {
                std::printf("Number of %s-ENTRY found = %zu\n", list.kind.c_str(), list.items.size());
                for (const auto& c : list.items)
                    std::printf("%s\tbyte offset %lld in the volume\n", c.label.c_str(), static_cast<long long>(c.byteOffset));
            }
            for (const ParameterChoice& p : search.parameters)
                if (p.fromBootSector > 0) std::printf("sectors per cluster (from the boot sector): %d\n", p.fromBootSector);
            v.listedCandidatesOnly = true;
            return v;
        }
        std::string failure;
        if (!v.adapter->chooseCandidate(choice, failure)) {
            printError(failure);
            return std::nullopt;
        }
    }
    if (!v.driver->run(mode)) return std::nullopt;
    // Partial results of a damaged volume are printed, and the exit status says so.
    if (v.driver->damaged()) o.image.hadWarnings = true;
    return v;
}

}  // namespace ondrel::cli
