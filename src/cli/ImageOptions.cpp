#include "cli/ImageOptions.h"


#include <cstdio>
#include <cstring>

namespace ondrel::cli {

void printError(const std::string& text) { std::fprintf(stderr, "ondrel-cli: %s\n", text.c_str()); }

void ImageOptions::addTo(CLI::App& command, bool withOverrides) {
    command.add_option("IMAGE", image, "Disk image file or block device")->required();
    command.add_option("--type", type, "Container kind (detected from the content when auto)")
        ->check(CLI::IsMember({"auto", "raw", "vhd", "vdi", "vmdk", "qcow2", "vhdx", "split"}, CLI::ignore_case));
    command.add_flag("-v,--verbose", verbose, "Print the status lines of the scan");
    command.add_option("--snapshot", snapshot, "Read this internal snapshot of a qcow2 image (name or ID)");
    command.add_option("--allow-parent", allowedParents,
                       "Let the image name this file as its parent or extent although it lies outside the image's "
                       "folder (repeatable)");
    if (withOverrides) {
        command.add_option("--size-mb", sizeMb, "Disk size in MiB, in place of the size the image states");
        command.add_option("--table-entries", tableEntries, "Number of VHD block-table entries to read");
    }
}

std::shared_ptr<readWriteInterface> ImageOptions::open(ImageKind& kind) {
    OpenOptions options;
    options.diskSizeOverride = sizeMb << 20;
    options.tableEntriesOverride = tableEntries;
    options.snapshot = snapshot;
    options.allowedReferences = allowedParents;
    std::optional<ImageKind> requested;
    if (type != "auto" && type != "AUTO") requested = imageKindFromName(type);
    OpenedImage opened = openDiskImage(image, requested, options);
    kind = opened.kind;
    if (!opened.reader) {
        std::string reason = opened.message;
        if (opened.errorCode != 0) reason += std::string(" (") + image + ": " + std::strerror(opened.errorCode) + ")";
        if (!opened.refusedReference.empty()) reason += " To open it, run again with --allow-parent " + opened.refusedReference + ".";
        printError(reason);
        return nullptr;
    }
    for (const auto& w : opened.reader->warnings()) {
        printError("warning: " + w);
        hadWarnings = true;
    }
    return std::shared_ptr<readWriteInterface>(std::move(opened.reader));
}

}  // namespace ondrel::cli
