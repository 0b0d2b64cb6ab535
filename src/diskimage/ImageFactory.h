#pragma once
// How an image is opened: the container kinds, the user's corrections, and the
// factory that opens the files an image names (a parent, an extent). The
// factory is handed down to the readers, so a reader opening its parent never
// calls back up into container detection.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondrel {

class readWriteInterface;
class ImageFactory;

enum class ImageKind { Raw, DynamicVhd, FixedVhd, Vdi, Vmdk, Qcow2, Vhdx, SplitRaw };

const char* imageKindName(ImageKind kind);
// "raw", "vhd", "vdi", "vmdk", "qcow2", "vhdx", "split" (case-insensitive);
// nullopt for anything else.
std::optional<ImageKind> imageKindFromName(const std::string& name);

struct OpenOptions {
    // "Size of HDD" in bytes (0: the size the image states) and "MAXIMUM
    // TABLE ENTRIES" (0: the header's; only the low 32 bits count). They apply
    // to the image the user chose, never to its parents.
    std::uint64_t diskSizeOverride = 0;
    std::uint64_t tableEntriesOverride = 0;
    // The qcow2 internal snapshot to read (name or ID; "" the current state).
    std::string snapshot;
    // A dynamic VHD must be named *.vhd (the wizard's rule).
    bool requireVhdExtension = false;
    // Files outside the image's folder that its references may still name
    // (the user allowed them); compared after resolving links.
    std::vector<std::string> allowedReferences;
    // Opens parents; null: the default factory.
    const ImageFactory* factory = nullptr;
    // The files the chain has opened so far (resolved paths, child first):
    // a parent already in it is a loop.
    std::vector<std::string> chain;
};

struct OpenedImage {
    std::unique_ptr<readWriteInterface> reader;
    ImageKind kind = ImageKind::Raw;
    std::string message;  // why the open failed
    int errorCode = 0;    // the system's reason, when a file could not be opened
    // A reference the rules refused (a parent or extent outside the image's
    // folder): the user may allow it and open again.
    std::string refusedReference;
};

class ImageFactory {
public:
    virtual ~ImageFactory() = default;
    // Opens path as kind (detected when nullopt) with options.
    virtual OpenedImage open(const std::string& path, std::optional<ImageKind> kind, const OpenOptions& options) const = 0;
};

}  // namespace ondrel
