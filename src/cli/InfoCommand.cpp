// ondrel-cli info: what the image page shows about an image.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"
#include "diskimage/FileReadSeek.h"
#include "diskimage/FileReadSeekQcow2.h"
#include "diskimage/FileReadSeekVhdx.h"
#include "diskimage/FileReadSeekVHD.h"
#include "diskimage/FileReadSeekVdi.h"
#include "diskimage/FileReadSeekVmdk.h"

#include <cstdio>
#include <memory>

namespace ondrel::cli {

namespace {

void line(const char* label, const std::string& value) { std::printf("%-24s%s\n", label, value.c_str()); }

int runInfo(ImageOptions& options) {
    ImageKind kind{};
    auto reader = options.open(kind);
    if (!reader) return kExitFailure;

    line("Image:", options.image);
    line("Container:", imageKindName(kind));
    line("Sectors:", std::to_string(reader->sectorCount()));
    line("Size of HDD:", std::to_string(reader->sectorCount() * 512 / 1048576) + " MB");
    line("File length:", std::to_string(reader->fileLength) + " bytes");
    line("Virtual size:", std::to_string(reader->sectorCount() * 512) + " bytes");
    std::vector<ImageLayer> chain = reader->layers();
    std::int64_t allocated = 0;
    for (const ImageLayer& l : chain) allocated += l.fileBytes;
    line("Allocated size:", std::to_string(chain.empty() ? reader->fileLength : allocated) + " bytes (all files)");
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const ImageLayer& l = chain[i];
        std::string text = l.path + " (" + l.kind + ", " + std::to_string(l.fileBytes) + " bytes)";
        if (!l.parent.empty()) text += ", names parent \"" + l.parent + "\"";
        line(i == 0 ? "Chain:" : "", text);
    }

    std::string version, spt = "N/A", heads = "N/A", cylinders = "N/A";
    if (auto* vhd = dynamic_cast<FileReadSeekVHD*>(reader.get())) {
        version = std::to_string(vhd->footer.formatVersion);
        spt = std::to_string(vhd->footer.sectorsPerTrack);
        heads = std::to_string(vhd->footer.heads);
        cylinders = std::to_string(vhd->footer.cylinders);
    } else if (auto* vdi = dynamic_cast<FileReadSeekVdi*>(reader.get())) {
        version = std::to_string(vdi->header.version);
        spt = std::to_string(vdi->header.sectorsPerTrack);
        heads = std::to_string(vdi->header.heads);
        cylinders = std::to_string(vdi->header.cylinders);
    } else if (auto* vmdk = dynamic_cast<FileReadSeekVmdk*>(reader.get())) {
        version = vmdk->descriptor.version;
        spt = vmdk->descriptor.sectors;
        heads = vmdk->descriptor.heads;
        cylinders = vmdk->descriptor.cylinders;
    }
    line("File Format Version:", version);
    line("Sector per track:", spt);
    line("Head:", heads);
    line("Cylinder:", cylinders);

    if (auto* vhd = dynamic_cast<FileReadSeekVHD*>(reader.get())) {
        line("MAXIMUM TABLE ENTRIES:", std::to_string(vhd->header.maxTableEntries));
        line("Block size:", std::to_string(vhd->header.blockSize) + " bytes");
    } else if (auto* vdi = dynamic_cast<FileReadSeekVdi*>(reader.get())) {
        line("Block size:", std::to_string(vdi->header.blockSize) + " bytes");
        line("Blocks allocated:", std::to_string(vdi->header.allocatedBlocks) + " of " + std::to_string(vdi->header.blockCount));
    } else if (auto* vmdk = dynamic_cast<FileReadSeekVmdk*>(reader.get())) {
        line("Create type:", vmdk->descriptor.createType);
        line("Grain size:", std::to_string(vmdk->grainSize) + " sectors");
    } else if (auto* q = dynamic_cast<FileReadSeekQcow2*>(reader.get())) {
        line("Cluster size:", std::to_string(q->clusterSize) + " bytes");
        line("Compression:", q->header.compressionType == 1 ? "zstd" : "deflate");
        if (q->extendedL2) line("Extended L2:", "yes");
        if (!q->backingFormat.empty()) line("Backing format:", q->backingFormat);
        for (const Qcow2Snapshot& snap : q->snapshots)
            line("Snapshot:", snap.id + " \"" + snap.name + "\" (" + std::to_string(snap.diskSize) + " bytes)");
        if (!q->openedSnapshot.empty()) line("Reading snapshot:", q->openedSnapshot);
    } else if (auto* x = dynamic_cast<FileReadSeekVhdx*>(reader.get())) {
        line("Block size:", std::to_string(x->blockSize) + " bytes");
        line("Logical sector size:", std::to_string(x->logicalSectorSize) + " bytes");
        line("Physical sector size:", std::to_string(x->physicalSectorSize) + " bytes");
        if (x->logEntriesReplayed) line("Log replayed:", std::to_string(x->logEntriesReplayed) + " entries (in memory)");
    } else if (auto* plain = dynamic_cast<FileReadSeek*>(reader.get()); plain && plain->isDevice()) {
        line("Device:", "yes");
    }
    return options.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addInfoCommand(CLI::App& app) {
    auto options = std::make_shared<ImageOptions>();
    auto* cmd = app.add_subcommand("info", "Show the container kind, size and geometry of an image");
    options->addTo(*cmd, true);
    return [options] { return runInfo(*options); };
}

}  // namespace ondrel::cli
