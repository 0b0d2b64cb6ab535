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
    std::array<std::uint8_t, 1024> first{};
    bool ok = disk->readAt(0, first.data(), first.size());
    const VolumeSystem* system = findVolumeSystem(ok && gptMode ? "GPT" : "MBR");
    if (system) run(*system, disk);
    // A disk with no table may be a volume system of its own (a physical
    // volume of LVM2 over the whole disk).
    if (!records_.empty()) return;
    for (const VolumeSystem* other : nested)
        if (other != system && other->name() != "MBR" && other->name() != "GPT" && other->recognises(*disk, probes_)) {
            run(*other, disk);
            return;
        }
}

void Partition::sweepVolumes(std::shared_ptr<const ByteSource> disk) {
    if (const VolumeSystem* system = findVolumeSystem("sweep")) run(*system, std::move(disk));
}

void Partition::run(const VolumeSystem& system, std::shared_ptr<const ByteSource> disk) {
    volumeCount_ = 0;
    context_ = std::make_unique<DiscoveryContext>(DiscoveryContext{probes_, observer_, control, {}});
    context_->skipVolumeSize = skipVolumeSize;
    context_->customStartSector = customStartSector;
    context_->customEndSector = customEndSector;
    context_->report = [this, disk](ListedVolume v) { add(std::move(v), -1, disk, 0, 0); };
    context_->shared = disk;
    system.list(*disk, *context_);
    context_.reset();
}

void Partition::add(ListedVolume listed, int parent, const std::shared_ptr<const ByteSource>& parentSource,
                    std::int64_t parentStart, int depth) {
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
    r.parent = parent;
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
        DiscoveryContext inner{probes_, observer_, control, {}};
        inner.ntfsCount = context_ ? context_->ntfsCount : 0;
        inner.topLevel = false;
        inner.shared = source;
        inner.report = [&](ListedVolume v) { add(std::move(v), index, source, start, depth); };
        system->list(*source, inner);
        if (context_) context_->ntfsCount = inner.ntfsCount;
        return;
    }
}

}  // namespace ondrel
