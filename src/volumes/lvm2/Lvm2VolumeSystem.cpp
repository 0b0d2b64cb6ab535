#include "volumes/lvm2/Lvm2VolumeSystem.h"

#include "volumes/ByteWindow.h"
#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"
#include "volumes/lvm2/LvmLabel.h"
#include "volumes/lvm2/LvmVolumeSource.h"

namespace ondrel {

namespace {
// The volume group on a physical volume, from the first metadata area whose
// current text reads; false with the reason.
bool readGroup(const ByteSource& source, const LvmPhysicalVolumeLabel& label, LvmVolumeGroup& vg, std::string& message) {
    if (label.metadataAreas.empty()) {
        message = "The physical volume keeps no metadata area (its group's metadata is on another one).";
        return false;
    }
    for (const LvmArea& area : label.metadataAreas) {
        LvmMetadataText text;
        LvmNode root;
        if (!readCurrentMetadata(source, area, text, message)) continue;
        if (!text.checksumMatches) message = "The metadata text fails its checksum.";
        if (!parseLvmText(text.text, root, message)) {
            message = "The metadata text cannot be read: " + message + ".";
            continue;
        }
        if (readVolumeGroup(root, vg, message)) return true;
    }
    return false;
}
}  // namespace

bool Lvm2VolumeSystem::recognises(const ByteSource& source, const std::vector<FileSystemProbe>&) const {
    LvmPhysicalVolumeLabel label;
    std::string message;
    return readPhysicalVolumeLabel(source, label, message);
}

void Lvm2VolumeSystem::list(const ByteSource& source, DiscoveryContext& c) const {
    LvmPhysicalVolumeLabel label;
    LvmVolumeGroup vg;
    std::string message;
    if (!readPhysicalVolumeLabel(source, label, message) || !readGroup(source, label, vg, message)) {
        c.observer.status("LVM2: " + message);
        return;
    }
    const int self = vg.pvIndex(label.uuid);
    if (self < 0) {
        c.observer.status("LVM2: the volume group " + vg.name + " does not list this physical volume.");
        return;
    }
    std::shared_ptr<const ByteSource> pv = c.shared ? c.shared : borrowSource(source);
    for (const LvmLogicalVolume& lv : vg.lvs) {
        if (!lv.visible) continue;
        if (!lv.unreadable.empty()) {
            c.observer.status("LVM2: " + vg.name + "/" + lv.name + " is not read: " + lv.unreadable + ".");
            continue;
        }
        std::vector<std::shared_ptr<const ByteSource>> pvs(vg.pvs.size());
        pvs[static_cast<std::size_t>(self)] = pv;
        bool here = true;
        for (const LvmSegment& s : lv.segments)
            for (const LvmStripe& st : s.stripes) here = here && st.pv == static_cast<std::size_t>(self);
        if (!here) {
            c.observer.status("LVM2: " + vg.name + "/" + lv.name + " lies partly on another physical volume.");
            continue;
        }
        ListedVolume v;
        v.source = std::make_shared<LvmVolumeSource>(vg, lv, std::move(pvs));
        v.lengthBytes = v.source->size();
        v.listedBy = "LVM2";
        v.label = vg.name + "/" + lv.name;
        // Where its first extent lies on the physical volume.
        const LvmStripe& first = lv.segments.front().stripes.front();
        v.startByte = static_cast<std::int64_t>((vg.pvs[first.pv].peStartSectors + first.startExtent * vg.extentSectors) * 512);
        std::vector<FileSystemClaim> claims = claimsOnVolume(*v.source, 0, c.probes);
        v.fileSystem = !claims.empty() && claims.front().probe->listed ? claims.front().probe->name : kUnknownFileSystem;
        v.sizeText = listText("%lld  MB", bytesToMegabytes(v.lengthBytes));
        c.observer.status("found " + vg.name + "/" + lv.name + "...");
        c.report(std::move(v));
    }
}

const VolumeSystem& lvm2VolumeSystem() {
    static const Lvm2VolumeSystem system;
    return system;
}

}  // namespace ondrel
