#pragma once
// Which container an image file is, told from its content: the VHD footer
// cookie, the VDI signature, the VMDK magic or descriptor, the qcow2 and VHDX
// signatures; anything else is a plain image, or the first part of a split
// one when its name ends in .001 or .aa and the second part lies beside it.
#include "diskimage/readWriteInterface.h"

#include <memory>
#include <optional>
#include <string>

namespace ondrel {

enum class ImageKind { Raw, DynamicVhd, FixedVhd, Vdi, Vmdk, Qcow2, Vhdx, SplitRaw };

const char* imageKindName(ImageKind kind);

// "raw", "vhd", "vdi", "vmdk", "qcow2", "vhdx", "split" (case-insensitive);
// nullopt for anything else.
std::optional<ImageKind> imageKindFromName(const std::string& name);

// Looks at the file's first and last sectors. A file that cannot be read is Raw
// (its reader then reports why it cannot be opened).
ImageKind detectImageKind(const std::string& path);

// A new, unopened reader for the kind. A fixed VHD is a plain image.
std::unique_ptr<readWriteInterface> createReader(ImageKind kind);

// Opens path as kind (detected when kind is nullopt), honouring the overrides.
// For a fixed VHD without a size override the disk ends before the footer.
// On failure the reader is null and message says why.
struct OpenedImage {
    std::unique_ptr<readWriteInterface> reader;
    ImageKind kind = ImageKind::Raw;
    std::string message;
    int errorCode = 0;  // the system's reason, when the file could not be opened
};
// insistOnVhdExtension: a dynamic VHD must be named *.vhd (the wizard's rule;
// the command line reads any name).
OpenedImage openDiskImage(const std::string& path, std::optional<ImageKind> kind, bool insistOnVhdExtension = false);

}  // namespace ondrel
