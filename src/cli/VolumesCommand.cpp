// ondrel-cli volumes: the volumes of an image, from its partition tables or a
// sector sweep.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"
#include "cli/VolumeOptions.h"
#include "fs/FileSystemRegistry.h"
#include "volumes/Partition.h"

#include <array>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace ondrel::cli {

namespace {

struct VolumesOptions {
    ImageOptions image;
    bool gpt = false;
    bool sweep = false;
    std::int64_t startSector = 0;
    std::int64_t endSector = 0;
    bool noSkip = false;
    bool json = false;
    bool progress = false;
    bool lvmHistory = false;
};

// How deep a record sits in the tree (0: on the disk itself).
int depthOf(const std::vector<VolumeRecord>& records, const VolumeRecord& r) {
    int depth = 0;
    for (int p = r.parent; p >= 0 && depth < 64; p = records[static_cast<std::size_t>(p)].parent) ++depth;
    return depth;
}

void printTable(const std::vector<VolumeRecord>& records, bool severalDisks) {
    // A NAME column only where there is something to put in it.
    bool named = severalDisks;
    for (const auto& r : records) named = named || !r.label.empty();
    std::printf("%-8s %-28s %-14s %s\n", "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", named ? "START_SECTOR  NAME" : "START_SECTOR");
    for (const auto& r : records) {
        // A volume inside another is indented under it.
        std::string fs = std::string(static_cast<std::size_t>(2 * depthOf(records, r)), ' ') + r.fileSystem;
        std::string name = r.label;
        if (severalDisks) name += (name.empty() ? "" : " ") + std::string("[disk ") + std::to_string(r.disk + 1) + "]";
        if (named) {
            std::printf("%-8s %-28s %-14s %-13lld %s\n", r.volumeName.c_str(), fs.c_str(), r.sizeText.c_str(),
                        static_cast<long long>(r.startSector), name.c_str());
        } else {
            std::printf("%-8s %-28s %-14s %lld\n", r.volumeName.c_str(), fs.c_str(), r.sizeText.c_str(),
                        static_cast<long long>(r.startSector));
        }
    }
}

void printJson(const std::vector<VolumeRecord>& records) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : records) {
        nlohmann::json parent = nullptr;
        if (r.parent >= 0) parent = records[static_cast<std::size_t>(r.parent)].volumeName;
        nlohmann::json children = nlohmann::json::array();
        for (int c : r.children) children.push_back(records[static_cast<std::size_t>(c)].volumeName);
        out.push_back({{"volume", r.volumeName},
                       {"fileSystem", r.fileSystem},
                       {"sizeText", r.sizeText},
                       {"sizeMB", sizeMegabytes(r.sizeText)},
                       {"startSector", r.startSector},
                       {"startByte", r.startByte},
                       {"lengthBytes", r.lengthBytes},
                       {"parent", parent},
                       {"children", children},
                       {"kind", r.kind},
                       {"listedBy", r.listedBy},
                       {"name", r.label},
                       {"disk", r.disk},
                       {"note", r.note},
                       {"incomplete", r.incomplete},
                       {"claims", r.claims}});
    }
    std::printf("%s\n", out.dump(2).c_str());
}

bool hasProtectiveMbr(const ByteSource& reader) {
    std::array<std::uint8_t, 512> mbr{};
    if (!reader.readAt(0, mbr.data(), mbr.size())) return false;
    for (int slot = 0; slot < 4; ++slot)
        if (mbr[0x1BE + slot * 16 + 4] == 0xEE) return true;
    return false;
}

int runVolumes(VolumesOptions& o) {
    ImageKind kind{};
    auto reader = o.image.open(kind);
    std::vector<std::shared_ptr<readWriteInterface>> further;
    if (!reader || !o.image.openFurther(further)) return kExitFailure;
    const auto disks = disksOf(reader, further);

    std::vector<VolumeRecord> records;
    TerminalObserver observer(o.image.verbose, o.progress || (o.sweep && isatty(STDERR_FILENO)));
    Partition partition(records, observer, fileSystemProbes());
    partition.earlierLayouts = o.lvmHistory;
    observer.setControl(&partition.control);
    if (o.sweep) {
        partition.skipVolumeSize = !o.noSkip;
        if (o.endSector >= 0) {
            partition.customStartSector = o.startSector;
            partition.customEndSector = o.endSector;
        }
        partition.sweepVolumes(disks);
        if (partition.stopRequested()) printError("sweep stopped; the volumes found so far are listed");
    } else {
        partition.gptMode = o.gpt;
        partition.scanPartitionTables(disks);
        if (!o.gpt && hasProtectiveMbr(*reader))
            printError("the disk has a GPT (protective MBR entry); run with --gpt to list its partitions");
    }
    if (o.json) printJson(records);
    else printTable(records, disks.size() > 1);
    bool incomplete = false;
    for (const VolumeRecord& r : records) {
        if (std::string note = claimConflict(r); !note.empty()) printError("note: " + note);
        if (!r.note.empty()) printError("note: volume " + r.volumeName + ": " + r.note);
        incomplete = incomplete || r.incomplete;
    }
    // A volume missing part of its bytes makes the listing partial: the exit status says so.
    if (incomplete) return kExitFailure;
    return o.image.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addVolumesCommand(CLI::App& app) {
    auto o = std::make_shared<VolumesOptions>();
    auto* cmd = app.add_subcommand("volumes", "List the volumes of an image");
    o->image.addTo(*cmd, true);
    cmd->add_flag("--gpt", o->gpt, "Read the GPT instead of the MBR");
    auto* sweep = cmd->add_flag("--sweep", o->sweep, "Sweep every sector for boot records (advanced scan)");
    cmd->add_option("--start-sector", o->startSector, "Sweep: first sector to test")->needs(sweep);
    cmd->add_option("--end-sector", o->endSector, "Sweep: last sector to test (0: to the end)")->needs(sweep);
    cmd->add_flag("--no-skip", o->noSkip, "Sweep: also test the sectors inside volumes already found")->needs(sweep);
    cmd->add_flag("--progress", o->progress, "Show progress on stderr even when it is not a terminal");
    cmd->add_flag("--json", o->json, "Print a JSON array");
    cmd->add_flag("--lvm-history", o->lvmHistory,
                  "Also list the LVM2 logical volumes earlier copies of the metadata describe (removed or resized ones)");
    return [o] { return runVolumes(*o); };
}

}  // namespace ondrel::cli
