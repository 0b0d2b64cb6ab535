// ondrel-cli info: what the image page shows about an image.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"
#include "diskimage/FileReadSeek.h"
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
