#include "fs/fat/FatAdapter.h"

#include "fs/DataSink.h"
#include "fs/DisplayFormat.h"
#include "fs/DosTime.h"

#include <algorithm>
#include <cstdio>

namespace ondrel {


FatAdapter::FatAdapter(const ByteSource& reader, const VolumeRecord& volume, bool fat32)
    : parser_(fat32 ? std::unique_ptr<FatParser>(std::make_unique<Fat32Class>(reader, volume))
                    : std::unique_ptr<FatParser>(std::make_unique<Fat16Class>(reader, volume))) {}

bool FatAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    parser_->reportTo(observer, control);
    if (mode == RecoveryMode::Advanced) {
        if (parser_->foundFats().empty()) parser_->findFatCopies(3);
        return parser_->scanAdvanced(fatChoice_, sectorsPerCluster_, failure);
    }
    if (mode != RecoveryMode::Standard) {
        failure = "The deep mode is for NTFS volumes; use the standard or the advanced mode.";
        return false;
    }
    return parser_->scanStandard(failure);
}

namespace {
// Cluster sizes to offer: the boot sector's own value first when it is a sane
// one (any power of two up to 128, one sector included), then the usual ones.
std::vector<int> clusterChoices(int bootValue, std::initializer_list<int> usual) {
    std::vector<int> out;
    if (bootValue > 0 && bootValue <= 128 && (bootValue & (bootValue - 1)) == 0) out.push_back(bootValue);
    for (int v : usual)
        if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(v);
    return out;
}
}  // namespace

AdvancedSearch FatAdapter::findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) {
    parser_->reportTo(observer, control);
    bool fat32 = parser_->fat32();
    if (!fat32) observer.status("Finding Fat entries....");
    std::vector<std::int64_t> found = parser_->findFatCopies(maxCount);
    AdvancedSearch out;
    CandidateList copies{"fat-entry", fat32 ? "FAT32" : "FAT", "", {}};
    for (std::size_t i = 0; i < found.size(); ++i)
        copies.items.push_back({copies.kind + "_ENTRY:" + std::to_string(i), found[i]});
    const std::string kind = copies.kind;
    out.lists.push_back(std::move(copies));
    int boot = parser_->bootSectorsPerCluster();
    out.parameters.push_back({"sectors-per-cluster",
                              fat32 ? clusterChoices(boot, {2, 4, 16, 32, 64, 8}) : clusterChoices(boot, {4, 8, 16, 2, 32, 64, 128}),
                              false, boot});
    if (fat32 && found.empty())
        out.message = "NO FAT  FAT32-ENTRY found ..";
    else
        out.message = "Number of " + kind + "-ENTRY found = " + std::to_string(found.size()) +
                      " . Please select the choice from combo box and click Parse button to proceed.";
    out.doneStatus = "Parsing done.Click Next to continue.";
    return out;
}

bool FatAdapter::chooseCandidate(const AdvancedChoice& chosen, std::string& failure) {
    int choice = chosen.pick(0), sectorsPerCluster = chosen.value(0);
    // With no copy found, the scan reads the FAT from the volume's start.
    auto found = static_cast<int>(parser_->foundFats().size());
    if (choice < 0 || (choice >= found && found > 0)) {
        failure = std::string("no ") + (parser_->fat32() ? "FAT32" : "FAT") + "_ENTRY:" + std::to_string(choice) +
                  " (found " + std::to_string(found) + ")";
        return false;
    }
    fatChoice_ = choice;
    sectorsPerCluster_ = sectorsPerCluster > 0 ? sectorsPerCluster : parser_->bootSectorsPerCluster();
    return true;
}

const FatEntryRecord* FatAdapter::record(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(parser_->records().size())) return nullptr;
    return &parser_->records()[static_cast<std::size_t>(id)];
}

std::vector<EntryId> FatAdapter::children(EntryId folder) const {
    if (!record(folder)) return {};
    return parser_->tree().children(folder);
}

bool FatAdapter::isFolder(EntryId id) const {
    const FatEntryRecord* r = record(id);
    return r && (id == 0 || r->isDirectory());
}

bool FatAdapter::hasChildren(EntryId id) const {
    return record(id) && parser_->tree().hasChildren(id);
}

bool FatAdapter::isDeleted(EntryId id) const {
    const FatEntryRecord* r = record(id);
    return r && r->deleted;
}

std::string FatAdapter::name(EntryId id) const {
    const FatEntryRecord* r = record(id);
    return r && id != 0 ? r->name : std::string();
}

std::uint64_t FatAdapter::size(EntryId id) const {
    const FatEntryRecord* r = record(id);
    return r && !isFolder(id) ? r->fileSize : 0;
}

std::string FatAdapter::sizeText(EntryId id) const { return formatSize(size(id)); }

EntryTimes FatAdapter::times(EntryId id) const {
    EntryTimes t;
    t.utc = false;
    const FatEntryRecord* r = record(id);
    if (!r || id == 0) return t;
    t.created = dosTime(r->createDate, r->createTime);
    t.accessed = dosTime(r->accessDate, 0);
    t.modified = dosTime(r->writeDate, r->writeTime);
    t.accessInstant = localInstant(t.accessed);
    t.modifiedInstant = localInstant(t.modified);
    return t;
}

DisplayTexts FatAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const FatEntryRecord* r = record(id);
    if (!r || id == 0) return d;
    EntryTimes t = times(id);
    if (t.created) d.creation = formatTime(*t.created);
    if (t.accessed) d.access = formatDateOnly(*t.accessed);
    if (t.modified) d.modification = formatTime(*t.modified);
    if (r->attributes & 0x01) d.attributes += "-R";
    if (r->attributes & 0x02) d.attributes += "-H";
    if (r->attributes & 0x04) d.attributes += "-S";
    if (r->attributes & 0x20) d.attributes += "-A";
    return d;
}

WriteResult FatAdapter::writeInto(EntryId id, OutputFile& file) {
    const FatEntryRecord* r = record(id);
    if (!r || isFolder(id)) return WriteResult::NotAFile;
    return writeThrough(id, file, [&](DataSink& sink) { return parser_->extract(*r, sink); });
}

bool FatAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    const FatEntryRecord* r = record(id);
    if (!r || isFolder(id)) return false;
    readThrough(out, limit, [&](DataSink& sink) { return parser_->extract(*r, sink); });
    return true;
}

void FatAdapter::rename(EntryId id, const std::string& newName) {
    parser_->rename(static_cast<std::int32_t>(id), newName);
}

}  // namespace ondrel
