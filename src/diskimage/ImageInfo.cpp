#include "diskimage/ImageInfo.h"

#include "diskimage/ImageKind.h"
#include "diskimage/SplitRawReader.h"
#include "diskimage/VdiFormat.h"
#include "diskimage/VhdFormat.h"
#include "platform/ReadOnlyFile.h"

#include <array>
#include <cctype>

namespace ondrel {

namespace {
constexpr std::uint64_t kMiB = 1048576;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

ImageInfo failed(std::string message) {
    ImageInfo info;
    info.message = std::move(message);
    return info;
}

ImageInfo openedInfo(const std::string& path, ImageKind kind, const char* invalid, const OpenOptions& options);

ImageInfo fixedInfo(const std::string& path, const OpenOptions& options) {
    ReadOnlyFile f;
    bool opened = f.open(path);
    // Devices carry no extension; raw images come as .img, .raw, .dd or .iso.
    if (!(opened && f.isDevice())) {
        bool known = path.size() <= 3;
        for (const char* ext : {"vhd", "img", "raw", "dd", "iso"}) known = known || hasImageExtension(path, ext);
        known = known || splitImageParts(path).size() > 1;
        if (!known) return failed("not a vhd file");
    }
    if (!opened) return failed("invalid handle ...");
    if (!f.isDevice() && detectImageKind(path) == ImageKind::SplitRaw)
        return openedInfo(path, ImageKind::SplitRaw, "not a vhd file", options);
    ImageInfo info;
    info.ok = true;
    info.device = f.isDevice();
    info.sectorsPerTrack = info.heads = info.cylinders = "N/A";
    info.sizeMb = static_cast<std::uint64_t>(f.size()) / kMiB;
    return info;
}

ImageInfo dynamicVhdInfo(const std::string& path) {
    const char* invalid = "Please select valid vhd file to continue the recovery process.";
    if (!hasImageExtension(path, "vhd")) return failed(invalid);
    ReadOnlyFile f;
    if (!f.open(path)) return failed("invalid handle ...");
    std::array<std::uint8_t, 512> footerBytes{};
    std::array<std::uint8_t, 1024> headerBytes{};
    if (f.readAt(0, footerBytes.data(), footerBytes.size()) != 512 ||
        f.readAt(512, headerBytes.data(), headerBytes.size()) != 1024)
        return failed(invalid);
    VhdFooter footer = parseVhdFooter(footerBytes);
    VhdDynamicHeader header = parseVhdDynamicHeader(headerBytes);
    // A fixed VHD has no footer copy at the start: it is not a dynamic disk.
    if (!footer.hasCookie || !header.hasCookie) return failed(invalid);
    ImageInfo info;
    info.ok = true;
    info.version = std::to_string(footer.formatVersion);
    info.sectorsPerTrack = std::to_string(footer.sectorsPerTrack);
    info.heads = std::to_string(footer.heads);
    info.cylinders = std::to_string(footer.cylinders);
    info.sizeMb = footer.currentSize / kMiB;
    info.maxTableEntries = header.maxTableEntries;
    return info;
}

ImageInfo vdiInfo(const std::string& path) {
    const char* invalid = "Please select valid vdi file to continue the recovery process.";
    if (!hasImageExtension(path, "vdi")) return failed(invalid);
    ReadOnlyFile f;
    if (!f.open(path)) return failed("invalid handle ...");
    std::array<std::uint8_t, kVdiHeaderSize> bytes{};
    if (f.readAt(0, bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size())) return failed(invalid);
    VdiHeader h = parseVdiHeader(bytes);
    if (h.signature != kVdiSignature) return failed(invalid);
    ImageInfo info;
    info.ok = true;
    info.version = std::to_string(h.version >> 16) + "." + std::to_string(h.version & 0xFFFF);
    info.sectorsPerTrack = std::to_string(h.sectorsPerTrack);
    info.heads = std::to_string(h.heads);
    info.cylinders = std::to_string(h.cylinders);
    info.sizeMb = static_cast<std::uint64_t>(h.diskSize < 0 ? 0 : h.diskSize) / kMiB;
    return info;
}

// Opens the image as the readers will, for its size and its chain; a parent
// that is missing or does not match fails here, before any scan.
ImageInfo openedInfo(const std::string& path, ImageKind kind, const char* invalid, const OpenOptions& given) {
    OpenOptions options;
    options.allowedReferences = given.allowedReferences;
    OpenedImage opened = openDiskImage(path, kind, options);
    if (!opened.reader) {
        ImageInfo info = failed(opened.message.empty() ? invalid : opened.message);
        info.refusedReference = opened.refusedReference;
        return info;
    }
    ImageInfo info;
    info.ok = true;
    ReaderDetails d = opened.reader->details();
    info.version = d.version;
    info.sectorsPerTrack = d.sectorsPerTrack;
    info.heads = d.heads;
    info.cylinders = d.cylinders;
    info.sizeMb = opened.reader->sectorCount() * kSectorSize / kMiB;
    info.chain = opened.reader->layers();
    return info;
}

ImageInfo vmdkInfo(const std::string& path, const OpenOptions& options) {
    const char* invalid = "Please select valid vmdk file to continue the recovery process.";
    if (!hasImageExtension(path, "vmdk")) return failed(invalid);
    return openedInfo(path, ImageKind::Vmdk, invalid, options);
}
}  // namespace

bool hasImageExtension(const std::string& path, const std::string& ext) {
    if (path.size() <= 3) return true;
    std::string p = lower(path);
    std::string e = lower(ext);
    return p.size() >= e.size() && p.compare(p.size() - e.size(), e.size(), e) == 0;
}

std::string chainText(const std::vector<ImageLayer>& chain) {
    std::string text;
    for (const ImageLayer& l : chain) {
        if (!text.empty()) text += "\n";
        auto slash = l.path.find_last_of('/');
        text += (slash == std::string::npos ? l.path : l.path.substr(slash + 1)) + " (" + l.kind + ")";
    }
    return text;
}

ImageInfo readImageInfo(const std::string& path, ImageChoice choice, const OpenOptions& options) {
    ImageInfo info;
    switch (choice) {
    case ImageChoice::DynamicVhd: info = dynamicVhdInfo(path); break;
    case ImageChoice::Fixed: return fixedInfo(path, options);
    case ImageChoice::Vdi: info = vdiInfo(path); break;
    case ImageChoice::Vmdk: return vmdkInfo(path, options);  // opened with its chain already
    case ImageChoice::Qcow2:
        if (!hasImageExtension(path, "qcow2") && !hasImageExtension(path, "qcow") && !hasImageExtension(path, "img"))
            return failed("Please select valid qcow2 file to continue the recovery process.");
        return openedInfo(path, ImageKind::Qcow2, "Please select valid qcow2 file to continue the recovery process.", options);
    case ImageChoice::Vhdx:
        if (!hasImageExtension(path, "vhdx") && !hasImageExtension(path, "avhdx"))
            return failed("Please select valid vhdx file to continue the recovery process.");
        return openedInfo(path, ImageKind::Vhdx, "Please select valid vhdx file to continue the recovery process.", options);
    }
    if (!info.ok) return info;
    // Differencing images need their parents: show the chain, or why it breaks.
    ImageKind kind = choice == ImageChoice::Vdi ? ImageKind::Vdi : ImageKind::DynamicVhd;
    ImageInfo opened = openedInfo(path, kind, "", options);
    if (!opened.ok) return opened;
    info.chain = std::move(opened.chain);
    return info;
}

}  // namespace ondrel
