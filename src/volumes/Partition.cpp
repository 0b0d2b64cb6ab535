#include "volumes/Partition.h"

#include "volumes/ByteWindow.h"

#include <array>

namespace ondrel {

namespace {
constexpr std::size_t kMaxVolumes = 16384;
}  // namespace

void Partition::scanPartitionTables(const ByteSource& disk) { scanPartitionTables(borrowSource(disk)); }
void Partition::sweepVolumes(const ByteSource& disk) { sweepVolumes(borrowSource(disk)); }

void Partition::scanPartitionTables(std::shared_ptr<const ByteSource> disk) {
    scanPartitionTables(std::vector<std::shared_ptr<const ByteSource>>{std::move(disk)});
}

void Partition::sweepVolumes(std::shared_ptr<const ByteSource> disk) {
    sweepVolumes(std::vector<std::shared_ptr<const ByteSource>>{std::move(disk)});
}

void Partition::scanPartitionTables(const std::vector<std::shared_ptr<const ByteSource>>& disks) {
    for (const auto& disk : disks) {
        if (stopRequested()) break;
        scanTables(disk);
    }
    finish();
}

void Partition::sweepVolumes(const std::vector<std::shared_ptr<const ByteSource>>& disks) {
    const VolumeSystem* system = findVolumeSystem("sweep");
    for (const auto& disk : disks) {
        if (stopRequested()) break;
        if (system) run(*system, disk);
    }
    finish();
}

void Partition::scanTables(std::shared_ptr<const ByteSource> disk) {
    std::array<std::uint8_t, 1024> first{};
    bool ok = disk->readAt(0, first.data(), first.size());
    const VolumeSystem* system = findVolumeSystem(ok && gptMode ? "GPT" : "MBR");
    const std::size_t before = records_.size();
    if (system) run(*system, disk);
    // A disk with no table may be a volume system of its own (a physical
    // volume of LVM2 over the whole disk).
    if (records_.size() != before) return;
    for (const VolumeSystem* other : nested)
        if (other != system && other->name() != "MBR" && other->name() != "GPT" && other->recognises(*disk, probes_)) {
            run(*other, disk);
            return;
        }
}

DiscoveryContext Partition::contextFor(int parentRecord) {
    DiscoveryContext c{probes_, observer_, control, {}};
    c.skipVolumeSize = skipVolumeSize;
    c.customStartSector = customStartSector;
    c.customEndSector = customEndSector;
    c.ntfsCount = ntfsCount_;
    c.parentRecord = parentRecord;
    c.disk = parentRecord >= 0 ? records_[static_cast<std::size_t>(parentRecord)].disk
                               : static_cast<int>(disks_.size()) - 1;
    c.session = &session_;
    c.earlierLayouts = earlierLayouts;
    c.reportUnder = [this](ListedVolume v, int parent, int disk) { reportUnder(std::move(v), parent, disk); };
    return c;
}

void Partition::run(const VolumeSystem& system, std::shared_ptr<const ByteSource> disk) {
    // Numbers go on from disk to disk: a volume's number is its place in the list.
    volumeCount_ = static_cast<int>(records_.size());
    if (disks_.empty() || disks_.back() != disk) disks_.push_back(disk);
    const int diskIndex = static_cast<int>(disks_.size()) - 1;
    context_ = std::make_unique<DiscoveryContext>(contextFor(-1));
    context_->report = [this, disk, diskIndex](ListedVolume v) { reportUnder(std::move(v), -1, diskIndex); };
    context_->shared = disk;
    system.list(*disk, *context_);
    ntfsCount_ = context_->ntfsCount;
    context_.reset();
}

void Partition::finish() {
    for (const VolumeSystem* system : nested) {
        DiscoveryContext c = contextFor(-1);
        system->finish(c);
        ntfsCount_ = c.ntfsCount;
    }
}

void Partition::reportUnder(ListedVolume listed, int parent, int disk) {
    if (parent >= static_cast<int>(records_.size()) || disk < 0 || disk >= static_cast<int>(disks_.size())) return;
    int depth = 0;
    for (int p = parent; p >= 0 && depth <= kMaxDepth; p = records_[static_cast<std::size_t>(p)].parent) ++depth;
    if (parent < 0) {
        add(std::move(listed), -1, disks_[static_cast<std::size_t>(disk)], 0, 0, disk);
        return;
    }
    const VolumeRecord& r = records_[static_cast<std::size_t>(parent)];
    std::shared_ptr<const ByteSource> source = r.source;
    add(std::move(listed), parent, source, r.startSector * 512, depth);
}

void Partition::add(ListedVolume listed, int parent, const std::shared_ptr<const ByteSource>& parentSource,
                    std::int64_t parentStart, int depth, int disk) {
    if (records_.size() >= kMaxVolumes) return;
    VolumeRecord r;
    r.fileSystem = std::move(listed.fileSystem);
    r.volumeName = std::to_string(volumeCount_++);
    r.sizeText = std::move(listed.sizeText);
    r.startByte = listed.startByte;
    r.source = listed.source ? listed.source
                             : std::make_shared<ByteWindow>(parentSource, listed.startByte, listed.lengthBytes);
    r.lengthBytes = listed.source ? listed.source->size() : listed.lengthBytes;
    r.startSector = (parentStart + listed.startByte) / 512;
    r.listedBy = std::move(listed.listedBy);
    if (!listed.label.empty()) r.label = std::move(listed.label);
    r.note = std::move(listed.note);
    r.incomplete = listed.incomplete;
    r.parent = parent;
    r.disk = parent >= 0 ? records_[static_cast<std::size_t>(parent)].disk
                        : disk >= 0 ? disk : static_cast<int>(disks_.size()) - 1;
    r.claims.clear();
    for (const FileSystemClaim& c : claimsOnVolume(*r.source, 0, probes_))
        if (c.probe->listed) r.claims.push_back(c.probe->name);
    records_.push_back(r);
    int index = static_cast<int>(records_.size()) - 1;
    if (parent >= 0) records_[static_cast<std::size_t>(parent)].children.push_back(index);
    if (onRecordListed) onRecordListed(records_.back());
    // A volume that is its parent's whole source again would be listed forever.
    bool whole = listed.startByte == 0 && r.lengthBytes >= parentSource->size();
    if (!whole) explore(index, depth + 1);
}

void Partition::explore(int index, int depth) {
    if (depth > kMaxDepth) return;
    const VolumeRecord& r = records_[static_cast<std::size_t>(index)];
    std::shared_ptr<const ByteSource> source = r.source;
    std::int64_t start = r.startSector * 512;
    for (const VolumeSystem* system : nested) {
        if (!system->recognises(*source, probes_)) continue;
        records_[static_cast<std::size_t>(index)].kind = system->name();
        DiscoveryContext inner = contextFor(index);
        inner.ntfsCount = context_ ? context_->ntfsCount : ntfsCount_;
        inner.topLevel = false;
        inner.shared = source;
        inner.report = [&](ListedVolume v) { add(std::move(v), index, source, start, depth); };
        system->list(*source, inner);
        if (context_) context_->ntfsCount = inner.ntfsCount;
        else ntfsCount_ = inner.ntfsCount;
        return;
    }
}

}  // namespace ondrel
