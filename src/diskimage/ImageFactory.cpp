#include "diskimage/ImageFactory.h"

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

}  // namespace ondrel
