#pragma once
// What the image page shows about an image before anything is scanned: the
// container's version, the geometry it records, the disk size and the files
// behind it. Reading it opens the files read-only and keeps no reader.
#include "diskimage/ImageFactory.h"
#include "diskimage/readWriteInterface.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondrel {

// The image types the user can choose on the image page.
enum class ImageChoice { DynamicVhd, Fixed, Vdi, Vmdk, Qcow2, Vhdx };

struct ImageInfo {
    bool ok = false;
    std::string message;  // what the page shows when ok is false
    std::string version;
    std::string sectorsPerTrack, heads, cylinders;
    std::uint64_t sizeMb = 0;  // the "Size of HDD" value
    std::optional<std::uint32_t> maxTableEntries;  // dynamic VHD only
    bool device = false;
    // The files the disk is read from, child first: the parents of a
    // differencing image, the parts of a split one.
    std::vector<ImageLayer> chain;
    // A parent or extent the image names outside its folder: the page asks
    // whether to allow it (message says what it is).
    std::string refusedReference;
};

// "name (kind)" per file, child first, each parent on its own line.
std::string chainText(const std::vector<ImageLayer>& chain);

// True when path ends in ext (without regard to case); paths of up to three
// characters pass, as they cannot carry an extension.
bool hasImageExtension(const std::string& path, const std::string& ext);

// options carries the references the user allowed (the size corrections are
// not applied: the page shows what the file says).
ImageInfo readImageInfo(const std::string& path, ImageChoice choice, const OpenOptions& options = {});

}  // namespace ondrel
