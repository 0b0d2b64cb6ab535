#include "cli/ImageOptions.h"


#include <cstdio>
#include <cstring>

namespace ondrel::cli {

void printError(const std::string& text) { std::fprintf(stderr, "ondrel-cli: %s\n", text.c_str()); }

void ImageOptions::addTo(CLI::App& command, bool withOverrides) {
    command.add_option("IMAGE", images,
                       "Disk image file or block device; further images of the same machine may follow (an LVM2 "
                       "volume group over several disks)")
        ->required()
        ->expected(1, -1);
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

void ImageOptions::addTrailing(CLI::App& command, const std::string& name, std::string& target,
                               const std::string& description) {
    command.add_option(name, target, description);
    trailing_ = &target;
    trailingName_ = name;
}

std::shared_ptr<readWriteInterface> ImageOptions::open(ImageKind& kind) {
    if (trailing_ && trailing_->empty() && images.size() >= 2) {
        *trailing_ = images.back();
        images.pop_back();
    }
    if (images.empty() || (trailing_ && trailing_->empty())) {
        printError("an IMAGE and the " + trailingName_ + " are required");
        return nullptr;
    }
    image = images.front();
    return openOne(image, true, kind);
}

bool ImageOptions::openFurther(std::vector<std::shared_ptr<readWriteInterface>>& out) {
    out.clear();
    for (std::size_t i = 1; i < images.size(); ++i) {
        ImageKind kind{};
        auto reader = openOne(images[i], false, kind);
        if (!reader) {
            out.clear();
            return false;
        }
        out.push_back(std::move(reader));
    }
    return true;
}

std::shared_ptr<readWriteInterface> ImageOptions::openOne(const std::string& image, bool first, ImageKind& kind) {
    OpenOptions options;
    if (first) {
        options.diskSizeOverride = sizeMb << 20;
        options.tableEntriesOverride = tableEntries;
        options.snapshot = snapshot;
    }
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
