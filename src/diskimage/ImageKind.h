#pragma once
// Which container an image file is, told from its content: the VHD footer
// cookie, the VDI signature, the VMDK magic or descriptor, the qcow2 and VHDX
// signatures; anything else is a plain image, or the first part of a split
// one when its name ends in .001 or .aa and the second part lies beside it.
// And opening an image with the reader for its kind.
#include "diskimage/ImageFactory.h"
#include "diskimage/readWriteInterface.h"

#include <memory>
#include <optional>
#include <string>

namespace ondrel {

// Looks at the file's first and last sectors. A file that cannot be read is Raw
// (its reader then reports why it cannot be opened).
ImageKind detectImageKind(const std::string& path);

// A new, unopened reader for the kind. A fixed VHD is a plain image.
std::unique_ptr<readWriteInterface> createReader(ImageKind kind);

// Opens path as kind (detected when kind is nullopt) with the options. For a
// fixed VHD without a size correction the disk ends before the footer. On
// failure the reader is null and message says why. Parents are opened through
// options.factory, or this function's own factory when none is given.
OpenedImage openDiskImage(const std::string& path, std::optional<ImageKind> kind, const OpenOptions& options = {});

// The factory openDiskImage hands to the readers it opens.
const ImageFactory& defaultImageFactory();

}  // namespace ondrel
