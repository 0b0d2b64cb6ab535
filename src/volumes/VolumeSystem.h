#pragma once
// One way of dividing a source into volumes: MBR with its extended chain, GPT,
// the sector sweep (and LVM2, shadow copies). A volume system recognises a
// source and lists the volumes in it; discovery offers every volume it lists
// to the volume systems again, then to the file systems' probes. Each volume
// system lives in its own folder and has one line in the registry.
#include "common/ScanObserver.h"
#include "common/WorkControl.h"
#include "diskimage/ByteSource.h"
#include "volumes/FileSystemProbe.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ondrel {

class VolumeSystem;

// A volume as its volume system finds it.
struct ListedVolume {
    std::string fileSystem;  // the list's FILE_SYSTEM text
    std::string sizeText;    // the list's VOLUME_SIZE text
    std::int64_t startByte = 0;  // in the source listed
    std::int64_t lengthBytes = 0;
    std::string listedBy;    // "MBR", "GPT", "sweep", "disk", "LVM2"
    std::string label;       // the volume's own name where its volume system gives one ("vg/lv")
    std::string note;        // what the user should know of it (a missing part, which mirror leg is read)
    bool incomplete = false; // part of its bytes cannot be read (a disk that holds them is missing)
    // The volume's bytes when they are not one stretch of the source listed
    // (an LVM2 logical volume); null: the window startByte, lengthBytes.
    std::shared_ptr<const ByteSource> source;
};

// What a volume system keeps from one disk to the next of a discovery: an
// LVM2 volume group may have its physical volumes on several disks.
struct VolumeSystemState {
    virtual ~VolumeSystemState() = default;
};

class DiscoverySession {
public:
    // The state owner keeps in this session, made on first use.
    template <class T>
    T& state(const VolumeSystem& owner) {
        std::unique_ptr<VolumeSystemState>& slot = states_[&owner];
        if (!slot) slot = std::make_unique<T>();
        return static_cast<T&>(*slot);
    }

private:
    std::map<const VolumeSystem*, std::unique_ptr<VolumeSystemState>> states_;
};

// What one discovery run shares with the volume systems it calls.
struct DiscoveryContext {
    const std::vector<FileSystemProbe>& probes;
    ScanObserver& observer;
    WorkControl& control;
    // Hands each volume found to discovery the moment it is found.
    std::function<void(ListedVolume)> report;
    // The scan's running count of NTFS volumes, for "found NTFS %d...".
    int ntfsCount = 0;
    // The sweep's settings (the scan-mode page's, `volumes --sweep`'s).
    bool skipVolumeSize = true;
    std::int64_t customStartSector = 0;
    std::int64_t customEndSector = 0;
    // Whether the source is the disk itself (a bare volume at its start counts).
    bool topLevel = true;
    // The source being listed, for volumes whose bytes are built on it (an
    // LVM2 logical volume holds its physical volume's source).
    std::shared_ptr<const ByteSource> shared = nullptr;
    // Where the source being listed is: the record listed (-1: a disk itself)
    // and the disk (its index in the disks of this discovery).
    int parentRecord = -1;
    int disk = 0;
    // The discovery's state across disks, and a report that places a volume
    // under another record (or disk) than the one being listed.
    DiscoverySession* session = nullptr;
    std::function<void(ListedVolume, int parentRecord, int disk)> reportUnder = nullptr;
    // List the layouts older metadata still describes (LVM2's earlier copies).
    bool earlierLayouts = false;

    const FileSystemProbe* probe(const std::string& name) const {
        for (const FileSystemProbe& p : probes)
            if (p.name == name) return &p;
        return nullptr;
    }
};

class VolumeSystem {
public:
    virtual ~VolumeSystem() = default;
    // "MBR", "GPT", "sweep".
    virtual std::string name() const = 0;
    // Whether source, a volume found inside another, holds this volume system.
    // The sweep never claims one: it runs when the user asks for it.
    virtual bool recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const = 0;
    // Lists the volumes in source through context.report.
    virtual void list(const ByteSource& source, DiscoveryContext& context) const = 0;
    // Called once all disks are listed: for volumes that waited for a part on
    // another disk (context.reportUnder places them).
    virtual void finish(DiscoveryContext&) const {}
};

// Every volume system, in the order a nested volume is offered to them.
const std::vector<const VolumeSystem*>& volumeSystems();
// By name; null when unknown.
const VolumeSystem* findVolumeSystem(const std::string& name);

}  // namespace ondrel
