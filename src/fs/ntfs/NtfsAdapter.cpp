#include "fs/ntfs/NtfsAdapter.h"

#include "fs/ntfs/NtfsExtractor.h"
#include "platform/OutputFile.h"
#include "fs/DisplayFormat.h"

namespace ondrel {

namespace {
// The top level: the root folder's children, or the orphan folder alone.
constexpr EntryId kTopLevel = -2;

}  // namespace

NtfsAdapter::NtfsAdapter(const ByteSource& reader, const VolumeRecord& volume)
    : parser_(std::make_unique<ntfs>(reader, volume)) {}

bool NtfsAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    ntfs& p = *parser_;
    p.reportTo(observer, control);
    p.setMode(static_cast<int>(mode));
    if (mode == RecoveryMode::Advanced) {
        if (p.foundMft().empty()) p.findMftRecords(3);
        if (!p.scanAdvanced(mftChoice_, sectorsPerCluster_)) {
            failure = p.failure().empty() ? "The chosen MFT record has no readable run list." : p.failure();
            return false;
        }
        return true;
    }
    if (!(mode == RecoveryMode::Deep ? p.scanDeep() : p.scanStandard())) {
        failure = p.failure().empty() ? "Selected Drive is not in NTFS Format" : p.failure();
        return false;
    }
    return true;
}

AdvancedSearch NtfsAdapter::findCandidates(int maxCount, ScanObserver& observer, WorkControl& control) {
    parser_->reportTo(observer, control);
    int n = parser_->findMftRecords(maxCount);
    AdvancedSearch out;
    CandidateList mft{"mft-entry", "MFT", "", {}};
    for (int i = 0; i < n; ++i)
        mft.items.push_back({"MFT_ENTRY:" + std::to_string(i), parser_->foundMft()[static_cast<std::size_t>(i)].diskOffset});
    out.lists.push_back(std::move(mft));
    out.parameters.push_back({"sectors-per-cluster", {8, 4, 2, 16, 32, 64}, false, 0});
    out.message = "Number of MFT-ENTRY found = " + std::to_string(n) +
                  " . Please select the choice from combo box and click Parse button to proceed.";
    out.doneStatus = "Parsing done.Click next to continue.";
    return out;
}

bool NtfsAdapter::chooseCandidate(const AdvancedChoice& chosen, std::string& failure) {
    int choice = chosen.pick(0), sectorsPerCluster = chosen.value(0);
    int found = static_cast<int>(parser_->foundMft().size());
    if (choice < 0 || choice >= found) {
        failure = "no MFT_ENTRY:" + std::to_string(choice) + " (found " + std::to_string(found) + ")";
        return false;
    }
    mftChoice_ = choice;
    sectorsPerCluster_ = sectorsPerCluster;  // 0: the boot sector's
    return true;
}

const NtfsEntry* NtfsAdapter::entry(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(parser_->entries().size())) return nullptr;
    return &parser_->entries()[static_cast<std::size_t>(id)];
}

EntryId NtfsAdapter::rootEntry() const { return parser_->orphanIndex() >= 0 ? kTopLevel : kNoEntry; }

std::vector<EntryId> NtfsAdapter::children(EntryId folder) const {
    const ntfs& p = *parser_;
    std::vector<EntryId> out;
    if (folder == kTopLevel) {
        bool rootValid = p.rootIndex() > 0 && p.rootIndex() < static_cast<std::int64_t>(p.entries().size());
        if (p.mode() != 3 && rootValid) {
            out = children(p.rootIndex());
            for (EntryId c : out)
                if (c == p.orphanIndex()) return out;
        }
        out.push_back(p.orphanIndex());
        return out;
    }
    if (!entry(folder)) return out;
    for (EntryId c : p.tree().children(folder)) {
        const NtfsEntry& child = p.entries()[static_cast<std::size_t>(c)];
        if (child.hasName && !child.name.empty()) out.push_back(c);
    }
    return out;
}

bool NtfsAdapter::isFolder(EntryId id) const {
    if (id == kTopLevel) return true;
    const NtfsEntry* e = entry(id);
    return e && e->kind == 'D';
}

bool NtfsAdapter::hasChildren(EntryId id) const {
    if (id == kTopLevel) return true;
    return entry(id) && parser_->tree().hasChildren(id);
}

bool NtfsAdapter::isDeleted(EntryId id) const {
    const NtfsEntry* e = entry(id);
    return e && !e->inUse();
}

std::string NtfsAdapter::name(EntryId id) const {
    const NtfsEntry* e = entry(id);
    return e ? e->name : std::string();
}

std::uint64_t NtfsAdapter::size(EntryId id) const {
    const NtfsEntry* e = entry(id);
    return e && e->kind != 'D' ? e->dataSize : 0;
}

EntryTimes NtfsAdapter::times(EntryId id) const {
    EntryTimes t;
    const NtfsEntry* e = entry(id);
    if (!e || !e->hasTimes) return t;
    UnixTime c = fromFileTime(e->created), a = fromFileTime(e->accessed), m = fromFileTime(e->modified);
    t.created = toUtcCivil(c.seconds);
    t.accessed = toUtcCivil(a.seconds);
    t.modified = toUtcCivil(m.seconds);
    t.accessInstant = a;
    t.modifiedInstant = m;
    return t;
}

DisplayTexts NtfsAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const NtfsEntry* e = entry(id);
    if (!e) return d;
    if (e->hasTimes) {
        d.creation = formatTime(toLocalCivil(fromFileTime(e->created).seconds));
        d.access = formatTime(toLocalCivil(fromFileTime(e->accessed).seconds));
        d.modification = formatTime(toLocalCivil(fromFileTime(e->modified).seconds));
    }
    std::uint32_t a = e->fileAttributes & 0xFFFF;
    if (a & 0x0001) d.attributes += "-R";
    if (a & 0x0002) d.attributes += "-H";
    if (a & 0x0200) d.attributes += "-S";
    if (a & 0x0020) d.attributes += "-A";
    if (a & 0x0800) d.attributes += "-C";
    if (a & 0x4000) d.attributes += "-E";
    return d;
}

WriteResult NtfsAdapter::writeInto(EntryId id, OutputFile& file) {
    const NtfsEntry* e = entry(id);
    if (!e || !e->isFile()) return WriteResult::NotAFile;
    if (e->kind == 'D') return WriteResult::NotAFile;
    FileSink sink(file);
    NtfsExtractor extractor(*parser_);
    WriteResult r = extractor.extract(id, sink);
    std::optional<UnixTime> access, modification;
    if (e->hasTimes) {
        access = fromFileTime(e->accessed);
        modification = fromFileTime(e->modified);
    }
    if (!file.finish(access, modification) && r == WriteResult::Written) r = WriteResult::WriteFailed;
    return r;
}

std::string NtfsAdapter::writeFailureText(EntryId id, WriteResult result) const {
    if (result != WriteResult::NotAFile) return {};
    const NtfsEntry* e = entry(id);
    if (!e || !e->isFile()) return "Not a valid entry...";
    return "This is  " + e->name + " directory .Please specify file names ";
}

bool NtfsAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    MemorySink sink(out, limit);
    NtfsExtractor extractor(*parser_);
    WriteResult r = extractor.extract(id, sink);
    return r == WriteResult::Written || (r == WriteResult::WriteFailed && out.size() == limit);
}

void NtfsAdapter::rename(EntryId id, const std::string& newName) {
    parser_->rename(id, newName);
}

}  // namespace ondrel
