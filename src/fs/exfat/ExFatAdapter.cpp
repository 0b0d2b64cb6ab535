#include "fs/exfat/ExFatAdapter.h"

#include "fs/DisplayFormat.h"
#include "fs/exfat/ExFatTimes.h"
#include "fs/DataSink.h"

namespace ondrel {

ExFatAdapter::ExFatAdapter(const ByteSource& reader, const VolumeRecord& volume)
    : parser_(std::make_unique<Fat64Class>(reader, volume)) {}

bool ExFatAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    parser_->reportTo(observer, control);
    if (mode == RecoveryMode::Advanced) {
        if (parser_->foundFats().empty() && parser_->foundHeaps().empty()) parser_->findStarts(3);
        int shift = 3;
        for (int s = 0; s <= 16; ++s)
            if (choice_.value(0) == (1 << s)) shift = s;
        if (choice_.value(0) <= 0 && parser_->bootClusterShift() >= 0) shift = parser_->bootClusterShift();
        else if (choice_.value(0) <= 0 && parser_->derivedClusterShift() >= 0) shift = parser_->derivedClusterShift();
        return parser_->scanAdvanced(choice_.pick(0), choice_.pick(1), static_cast<unsigned>(shift), failure);
    }
    if (mode != RecoveryMode::Standard) {
        failure = "exFAT volumes are read in the standard or the advanced mode.";
        return false;
    }
    return parser_->scanStandard(failure);
}

AdvancedSearch ExFatAdapter::findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) {
    parser_->reportTo(observer, control);
    observer.status("Finding Fat64 entries....");
    parser_->findStarts(maxCount);
    AdvancedSearch out;
    const auto& fats = parser_->foundFats();
    const auto& heaps = parser_->foundHeaps();
    CandidateList fatList{"fat-entry", "FAT64", "", {}}, heapList{"heap-entry", "HeapOffset", "", {}};
    for (std::size_t i = 0; i < fats.size(); ++i) fatList.items.push_back({"FAT64_ENTRY:" + std::to_string(i), fats[i]});
    for (std::size_t i = 0; i < heaps.size(); ++i)
        heapList.items.push_back({"HEAP_OFFSET_ENTRY:" + std::to_string(i), heaps[i]});
    out.lists.push_back(std::move(fatList));
    out.lists.push_back(std::move(heapList));
    // Shifts: mkfs.exfat uses 3 below 256 MiB, 6 up to 32 GiB and 8 beyond;
    // any from 0 (one sector) to 11 is offered, the boot sector's first.
    ParameterChoice cluster{"sectors-per-cluster", {}, true, 0};
    int boot = parser_->bootClusterShift();
    if (boot >= 0) cluster.fromBootSector = 1 << boot;
    else boot = parser_->derivedClusterShift();
    if (boot >= 0) cluster.values.push_back(boot);
    for (int s = 0; s <= 11; ++s)
        if (s != boot) cluster.values.push_back(s);
    out.parameters.push_back(std::move(cluster));
    out.message = "Number of FAT64-ENTRY found = " + std::to_string(fats.size()) +
                  " and Number of HeapOffset-ENTRY found =  " + std::to_string(heaps.size()) +
                  "  . Please select the choice from ( Entry and Heap ) Combobox and click Parse button to proceed.";
    out.doneStatus = "Parsing done.Click Next to continue.";
    return out;
}

bool ExFatAdapter::chooseCandidate(const AdvancedChoice& choice, std::string& failure) {
    auto fats = static_cast<int>(parser_->foundFats().size());
    auto heaps = static_cast<int>(parser_->foundHeaps().size());
    // Nothing found to choose from is no wrong choice: the scan goes on and says what is missing.
    if (fats > 0 && (choice.pick(0) < 0 || choice.pick(0) >= fats)) {
        failure = "no FAT64_ENTRY:" + std::to_string(choice.pick(0)) + " (found " + std::to_string(fats) + ")";
        return false;
    }
    if (heaps > 0 && (choice.pick(1) < 0 || choice.pick(1) >= heaps)) {
        failure = "no HEAP_OFFSET_ENTRY:" + std::to_string(choice.pick(1)) + " (found " + std::to_string(heaps) + ")";
        return false;
    }
    int s = choice.value(0);
    if (s > 65536 || (s > 0 && (s & (s - 1)) != 0)) {
        failure = "The sectors per cluster must be a power of two from 1 to 65536 (given: " + std::to_string(s) + ").";
        return false;
    }
    choice_ = choice;
    return true;
}

const ExFatEntryRecord* ExFatAdapter::record(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(parser_->records().size())) return nullptr;
    return &parser_->records()[static_cast<std::size_t>(id)];
}

std::vector<EntryId> ExFatAdapter::children(EntryId folder) const {
    if (!record(folder)) return {};
    return parser_->tree().children(folder);
}

bool ExFatAdapter::isFolder(EntryId id) const {
    const ExFatEntryRecord* r = record(id);
    return r && (r->setOffset < 0 || r->isDirectory());
}

bool ExFatAdapter::hasChildren(EntryId id) const { return record(id) && parser_->tree().hasChildren(id); }

bool ExFatAdapter::isDeleted(EntryId id) const {
    const ExFatEntryRecord* r = record(id);
    return r && r->setOffset >= 0 && r->deleted();
}

std::string ExFatAdapter::name(EntryId id) const {
    const ExFatEntryRecord* r = record(id);
    return r && id != 0 ? r->name : std::string();
}

std::uint64_t ExFatAdapter::size(EntryId id) const {
    const ExFatEntryRecord* r = record(id);
    return r && !isFolder(id) ? r->dataLength : 0;
}

EntryTimes ExFatAdapter::times(EntryId id) const {
    EntryTimes t;
    const ExFatEntryRecord* r = record(id);
    if (!r || r->setOffset < 0) return t;
    std::optional<ExFatTime> c = exfatTime(r->createTimestamp, r->create10ms, r->createUtcOffset);
    std::optional<ExFatTime> a = exfatTime(r->lastAccessedTimestamp, 0, r->lastAccessedUtcOffset);
    std::optional<ExFatTime> m = exfatTime(r->lastModifiedTimestamp, r->lastModified10ms, r->lastModifiedUtcOffset);
    // UTC when every stamp says its zone; otherwise wall times, those with a
    // zone shown on this host's clock.
    bool allZoned = true, any = false;
    for (const auto* x : {&c, &a, &m})
        if (*x) {
            any = true;
            allZoned = allZoned && (*x)->offsetMinutes.has_value();
        }
    t.utc = any && allZoned;
    auto civil = [&](const std::optional<ExFatTime>& x) -> std::optional<CivilTime> {
        if (!x) return std::nullopt;
        if (t.utc) return toUtcCivil(x->instant().seconds);
        return x->offsetMinutes ? toLocalCivil(x->instant().seconds) : x->wall;
    };
    t.created = civil(c);
    t.accessed = civil(a);
    t.modified = civil(m);
    if (a) t.accessInstant = a->instant();
    if (m) t.modifiedInstant = m->instant();
    return t;
}

DisplayTexts ExFatAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const ExFatEntryRecord* r = record(id);
    if (!r || r->setOffset < 0) return d;
    auto text = [](std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t offset) {
        std::optional<ExFatTime> x = exfatTime(stamp, tenMs, offset);
        if (!x) return std::string();
        return formatTime(x->offsetMinutes ? toLocalCivil(x->instant().seconds) : x->wall);
    };
    d.creation = text(r->createTimestamp, r->create10ms, r->createUtcOffset);
    d.access = text(r->lastAccessedTimestamp, 0, r->lastAccessedUtcOffset);
    d.modification = text(r->lastModifiedTimestamp, r->lastModified10ms, r->lastModifiedUtcOffset);
    d.attributes = attributeText(id);
    return d;
}

std::string ExFatAdapter::attributeText(EntryId id) const {
    const ExFatEntryRecord* r = record(id);
    std::string out;
    if (!r || r->setOffset < 0) return out;
    if (r->fileAttributes & 0x01) out += "-R";
    if (r->fileAttributes & 0x02) out += "-H";
    if (r->fileAttributes & 0x04) out += "-S";
    if (r->fileAttributes & 0x20) out += "-A";
    return out;
}

WriteResult ExFatAdapter::writeInto(EntryId id, OutputFile& file) {
    const ExFatEntryRecord* r = record(id);
    if (!r || isFolder(id)) return WriteResult::NotAFile;
    return writeThrough(id, file, [&](DataSink& sink) { return parser_->extract(*r, sink); });
}

bool ExFatAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    const ExFatEntryRecord* r = record(id);
    if (!r || isFolder(id)) return false;
    readThrough(out, limit, [&](DataSink& sink) { return parser_->extract(*r, sink); });
    return true;
}

void ExFatAdapter::rename(EntryId id, const std::string& newName) { parser_->rename(static_cast<std::int32_t>(id), newName); }

}  // namespace ondrel
