#include "volumes/lvm2/Lvm2VolumeSystem.h"

#include "volumes/ByteWindow.h"
#include "volumes/lvm2/LvmGroupListing.h"
#include "volumes/lvm2/LvmLabel.h"

namespace ondrel {

namespace {
// The volume group of a metadata text; false with the reason.
bool groupOf(const std::string& text, LvmVolumeGroup& vg, std::string& message) {
    LvmNode root;
    if (!parseLvmText(text, root, message)) {
        message = "The metadata text cannot be read: " + message + ".";
        return false;
    }
    return readVolumeGroup(root, vg, message);
}

// The volume group on a physical volume, from the first metadata area whose
// current text reads; false with the reason.
bool readGroup(const ByteSource& source, const LvmPhysicalVolumeLabel& label, LvmVolumeGroup& vg, std::string& message) {
    if (label.metadataAreas.empty()) {
        message = "The physical volume keeps no metadata area (its group's metadata is on another one).";
        return false;
    }
    for (const LvmArea& area : label.metadataAreas) {
        LvmMetadataText text;
        if (!readCurrentMetadata(source, area, text, message)) continue;
        if (groupOf(text.text, vg, message)) {
            if (!text.checksumMatches) message = "The metadata text of " + vg.name + " fails its checksum.";
            return true;
        }
    }
    return false;
}

// The older copies of the group's metadata the PV's rings still hold.
void readEarlier(const ByteSource& source, const LvmPhysicalVolumeLabel& label, LvmSeenGroup& group) {
    for (const LvmArea& area : label.metadataAreas)
        for (const LvmMetadataText& copy : readMetadataCopies(source, area)) {
            LvmVolumeGroup vg;
            std::string message;
            if (!groupOf(copy.text, vg, message) || vg.id != group.vg.id || vg.seqno >= group.vg.seqno) continue;
            group.earlier.emplace(vg.seqno, std::move(vg));
        }
}
}  // namespace

bool Lvm2VolumeSystem::recognises(const ByteSource& source, const std::vector<FileSystemProbe>&) const {
    LvmPhysicalVolumeLabel label;
    std::string message;
    return readPhysicalVolumeLabel(source, label, message);
}

void Lvm2VolumeSystem::list(const ByteSource& source, DiscoveryContext& c) const {
    DiscoverySession lone;  // a caller outside a discovery lists this PV alone
    LvmDiscoveryState& state = (c.session ? *c.session : lone).state<LvmDiscoveryState>(*this);
    LvmPhysicalVolumeLabel label;
    std::string message;
    if (!readPhysicalVolumeLabel(source, label, message)) {
        c.observer.status("LVM2: " + message);
        return;
    }
    if (state.pvs.count(label.uuid)) {
        c.observer.message("LVM2: the physical volume " + label.uuid +
                           " is found twice (the same disk given twice, or a copy of it); the first one found is read.");
        return;
    }
    state.pvs[label.uuid] = {c.shared ? c.shared : borrowSource(source), c.parentRecord, c.disk, label.deviceSize};
    LvmVolumeGroup vg;
    if (readGroup(source, label, vg, message)) {
        if (!message.empty()) c.observer.message("LVM2: " + message);
        if (vg.pvIndex(label.uuid) < 0) {
            c.observer.message("LVM2: the volume group " + vg.name + " does not list the physical volume " + label.uuid + ".");
        } else {
            LvmSeenGroup& group = state.groups[vg.id];
            if (group.vg.name.empty() || vg.seqno > group.vg.seqno) {
                if (!group.vg.name.empty()) group.earlier.emplace(group.vg.seqno, group.vg);
                group.vg = std::move(vg);
            }
            if (c.earlierLayouts) readEarlier(source, label, group);
        }
    } else {
        c.observer.status("LVM2: " + message);
    }
    // Every group this PV completes is listed now; the others wait for finish.
    for (auto& [id, group] : state.groups)
        if (!group.listed && groupComplete(state, group)) listGroup(state, group, c);
    if (!c.session)
        for (auto& [id, group] : state.groups)
            if (!group.listed) listGroup(state, group, c);
}

void Lvm2VolumeSystem::finish(DiscoveryContext& c) const {
    if (!c.session) return;
    LvmDiscoveryState& state = c.session->state<LvmDiscoveryState>(*this);
    for (auto& [id, group] : state.groups)
        if (!group.listed) listGroup(state, group, c);
}

const VolumeSystem& lvm2VolumeSystem() {
    static const Lvm2VolumeSystem system;
    return system;
}

}  // namespace ondrel
