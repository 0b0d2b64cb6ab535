#include "diskimage/ImageKind.h"

#include "diskimage/FileReadSeek.h"
#include "diskimage/FileReadSeekVHD.h"
#include "diskimage/FileReadSeekVdi.h"
#include "diskimage/FileReadSeekQcow2.h"
#include "diskimage/FileReadSeekVhdx.h"
#include "diskimage/FileReadSeekVmdk.h"
#include "diskimage/SplitRawReader.h"
#include "diskimage/VdiFormat.h"
#include "diskimage/VhdFormat.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ondrel {

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

namespace {
class DetectingFactory : public ImageFactory {
public:
    OpenedImage open(const std::string& path, std::optional<ImageKind> kind, const OpenOptions& options) const override {
        return openDiskImage(path, kind, options);
    }
};
}  // namespace

const ImageFactory& defaultImageFactory() {
    static const DetectingFactory factory;
    return factory;
}

bool readWriteInterface::open(const std::string& path) {
    OpenOptions options;
    options.factory = &defaultImageFactory();
    return open(path, options);
}

OpenedImage openDiskImage(const std::string& path, std::optional<ImageKind> kind, const OpenOptions& given) {
    OpenedImage out;
    out.kind = kind ? *kind : detectImageKind(path);
    OpenOptions options = given;
    if (!options.factory) options.factory = &defaultImageFactory();
    // A fixed VHD's disk ends where its footer begins.
    if (out.kind == ImageKind::FixedVhd && options.diskSizeOverride == 0) {
        ReadOnlyFile f;
        if (f.open(path))
            // The disk ends where the file's data does, whatever the footer claims.
            if (auto footer = fixedVhdFooter(f))
                options.diskSizeOverride = std::min<std::uint64_t>(footer->currentSize, static_cast<std::uint64_t>(f.size() - 512));
    }
    auto reader = createReader(out.kind);
    if (!reader->open(path, options)) {
        out.message = reader->lastMessage();
        out.errorCode = reader->lastErrorCode();
        out.refusedReference = reader->refusedReference();
        return out;
    }
    out.reader = std::move(reader);
    return out;
}

}  // namespace ondrel
