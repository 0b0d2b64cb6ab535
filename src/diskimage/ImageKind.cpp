#include "diskimage/ImageKind.h"

#include "diskimage/FileReadSeek.h"
#include "diskimage/FileReadSeekVHD.h"
#include "diskimage/FileReadSeekVdi.h"
#include "diskimage/FileReadSeekQcow2.h"
#include "diskimage/FileReadSeekVhdx.h"
#include "diskimage/FileReadSeekVmdk.h"
#include "diskimage/SplitRawReader.h"
#include "diskimage/ReaderState.h"
#include "diskimage/VdiFormat.h"
#include "diskimage/VhdFormat.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ondrel {

const char* imageKindName(ImageKind kind) {
    switch (kind) {
    case ImageKind::Raw: return "raw";
    case ImageKind::DynamicVhd: return "dynamic VHD";
    case ImageKind::FixedVhd: return "fixed VHD";
    case ImageKind::Vdi: return "VDI";
    case ImageKind::Vmdk: return "VMDK";
    case ImageKind::Qcow2: return "qcow2";
    case ImageKind::Vhdx: return "VHDX";
    case ImageKind::SplitRaw: return "split raw";
    }
    return "raw";
}

std::optional<ImageKind> imageKindFromName(const std::string& name) {
    std::string n;
    for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == "raw") return ImageKind::Raw;
    if (n == "vhd") return ImageKind::DynamicVhd;
    if (n == "vdi") return ImageKind::Vdi;
    if (n == "vmdk") return ImageKind::Vmdk;
    if (n == "qcow2" || n == "qcow") return ImageKind::Qcow2;
    if (n == "vhdx") return ImageKind::Vhdx;
    if (n == "split") return ImageKind::SplitRaw;
    return std::nullopt;
}

namespace {
std::optional<VhdFooter> fixedVhdFooter(const ReadOnlyFile& f) {
    if (f.size() < 512) return std::nullopt;
    std::array<std::uint8_t, 512> tail{};
    if (f.readAt(f.size() - 512, tail.data(), tail.size()) != 512) return std::nullopt;
    VhdFooter footer = parseVhdFooter(tail);
    if (!footer.hasCookie || footer.diskType != 2) return std::nullopt;
    return footer;
}
}  // namespace

ImageKind detectImageKind(const std::string& path) {
    ReadOnlyFile f;
    if (!f.open(path) || f.isDevice()) return ImageKind::Raw;
    std::array<std::uint8_t, 512> head{};
    if (f.readAt(0, head.data(), head.size()) < 4) return ImageKind::Raw;
    if (hasText(head, 0, "conectix")) return ImageKind::DynamicVhd;
    if (le32(head, 0) == 0x564D444B) return ImageKind::Vmdk;
    if (le32(head, 0x40) == kVdiSignature) return ImageKind::Vdi;
    if (hasText(head, 0, "# Disk DescriptorFile")) return ImageKind::Vmdk;
    if (hasText(head, 0, "QFI\xfb")) return ImageKind::Qcow2;
    if (hasText(head, 0, "vhdxfile")) return ImageKind::Vhdx;
    if (fixedVhdFooter(f)) return ImageKind::FixedVhd;
    if (splitImageParts(path).size() > 1) return ImageKind::SplitRaw;
    return ImageKind::Raw;
}

std::unique_ptr<readWriteInterface> createReader(ImageKind kind) {
    switch (kind) {
    case ImageKind::DynamicVhd: return std::make_unique<FileReadSeekVHD>();
    case ImageKind::Vdi: return std::make_unique<FileReadSeekVdi>();
    case ImageKind::Vmdk: return std::make_unique<FileReadSeekVmdk>();
    case ImageKind::Qcow2: return std::make_unique<FileReadSeekQcow2>();
    case ImageKind::Vhdx: return std::make_unique<FileReadSeekVhdx>();
    case ImageKind::SplitRaw: return std::make_unique<SplitRawReader>();
    case ImageKind::Raw:
    case ImageKind::FixedVhd: break;
    }
    return std::make_unique<FileReadSeek>();
}

OpenedImage openDiskImage(const std::string& path, std::optional<ImageKind> kind, bool insistOnVhdExtension) {
    OpenedImage out;
    out.kind = kind ? *kind : detectImageKind(path);
    // A fixed VHD's disk ends where its footer begins.
    std::uint64_t savedOverride = diskSizeOverride;
    if (out.kind == ImageKind::FixedVhd && diskSizeOverride == 0) {
        ReadOnlyFile f;
        if (f.open(path))
            // The disk ends where the file's data does, whatever the footer claims.
            if (auto footer = fixedVhdFooter(f))
                diskSizeOverride = std::min<std::uint64_t>(footer->currentSize, static_cast<std::uint64_t>(f.size() - 512));
    }
    auto reader = createReader(out.kind);
    if (auto* vhd = dynamic_cast<FileReadSeekVHD*>(reader.get())) vhd->requireVhdExtension = insistOnVhdExtension;
    g_imageKind = (out.kind == ImageKind::Raw || out.kind == ImageKind::FixedVhd) ? 0 : kBlockMappedImage;
    bool opened = reader->open(path);
    diskSizeOverride = savedOverride;
    if (!opened) {
        out.message = reader->lastMessage();
        out.errorCode = reader->lastErrorCode();
        return out;
    }
    out.reader = std::move(reader);
    return out;
}

}  // namespace ondrel
