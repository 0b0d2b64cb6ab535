#include "fs/xfs/XfsAdapter.h"

#include "fs/DataSink.h"
#include "fs/DisplayFormat.h"
#include "fs/JournalCandidate.h"

namespace ondrel {

XfsAdapter::XfsAdapter(const ByteSource& reader, const VolumeRecord& volume)
    : volume_(std::make_unique<XfsVolume>(reader, volume)) {}

bool XfsAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    volume_->reportTo(observer, control);
    if (mode == RecoveryMode::Advanced) return volume_->scanLog(failure);
    if (mode != RecoveryMode::Standard) {
        failure = "XFS volumes are read in the standard mode or, with their log, the advanced mode.";
        return false;
    }
    return volume_->scanStandard(failure);
}

AdvancedSearch XfsAdapter::findCandidates(int, ScanObserver& observer, WorkControl& control) {
    volume_->reportTo(observer, control);
    std::string failure;
    std::int64_t at = -1;
    {
        ScanObserver& quiet = silentObserver();
        volume_->reportTo(quiet, control);
        if (volume_->scanStandard(failure) && volume_->superblock().logStart != 0)
            at = volume_->superblock().blockByte(volume_->superblock().logStart);
        volume_->reportTo(observer, control);
    }
    return journalSearch(at, volume_->superblock().blockSize,
                         "This volume keeps no log inside it: the advanced mode reads the log of an XFS volume.");
}

bool XfsAdapter::chooseCandidate(const AdvancedChoice& choice, std::string& failure) { return chooseTheJournal(choice, "log", failure); }

const XfsRecord* XfsAdapter::record(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(volume_->records().size())) return nullptr;
    return &volume_->records()[static_cast<std::size_t>(id)];
}

std::vector<EntryId> XfsAdapter::children(EntryId folder) const {
    if (!record(folder)) return {};
    return volume_->tree().children(folder);
}

bool XfsAdapter::isFolder(EntryId id) const {
    const XfsRecord* r = record(id);
    return r && r->isDirectory();
}

bool XfsAdapter::isLink(EntryId id) const {
    const XfsRecord* r = record(id);
    return r && r->isSymlink();
}

bool XfsAdapter::hasChildren(EntryId id) const { return record(id) && volume_->tree().hasChildren(id); }

bool XfsAdapter::isDeleted(EntryId id) const {
    const XfsRecord* r = record(id);
    return r && r->deleted;
}

std::string XfsAdapter::name(EntryId id) const {
    const XfsRecord* r = record(id);
    return r ? r->name : std::string();
}

std::uint64_t XfsAdapter::size(EntryId id) const {
    const XfsRecord* r = record(id);
    return r && !r->isDirectory() ? r->size : 0;
}

EntryTimes XfsAdapter::times(EntryId id) const {
    EntryTimes t;
    const XfsRecord* r = record(id);
    if (!r || id == 0 || !r->readable) return t;
    // UTC instants; version 5 keeps the creation time, older inodes only the change time.
    const XfsTime& created = r->hasCrtime ? r->crtime : r->ctime;
    t.created = toUtcCivil(created.seconds);
    t.accessed = toUtcCivil(r->atime.seconds);
    t.modified = toUtcCivil(r->mtime.seconds);
    t.accessInstant = UnixTime{r->atime.seconds, r->atime.nanoseconds / 100};
    t.modifiedInstant = UnixTime{r->mtime.seconds, r->mtime.nanoseconds / 100};
    return t;
}

DisplayTexts XfsAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const XfsRecord* r = record(id);
    if (!r || id == 0 || !r->readable) return d;
    d.creation = formatTime(toLocalCivil((r->hasCrtime ? r->crtime : r->ctime).seconds));
    d.access = formatTime(toLocalCivil(r->atime.seconds));
    d.modification = formatTime(toLocalCivil(r->mtime.seconds));
    d.attributes = attributeText(id);
    return d;
}

std::string XfsAdapter::attributeText(EntryId id) const {
    const XfsRecord* r = record(id);
    return !r || id == 0 ? std::string() : unixPermissionText(r->mode);
}

WriteResult XfsAdapter::writeInto(EntryId id, OutputFile& file) {
    const XfsRecord* r = record(id);
    if (!r || r->isDirectory()) return WriteResult::NotAFile;
    // A device, pipe or socket has no data: no empty file is left.
    if (!r->readable) return WriteResult::ReadFailed;
    if (!r->isRegular() && !r->isSymlink()) return WriteResult::NoData;
    // A removed file whose blocks were used again, or that keeps none: no file is left.
    if (r->deleted && !volume_->noDataReason(id).empty()) return WriteResult::NoData;
    return writeThrough(id, file, [&](DataSink& sink) { return volume_->extract(id, sink); });
}

std::string XfsAdapter::writeFailureText(EntryId id, WriteResult result) const {
    return result == WriteResult::NoData ? volume_->noDataReason(id) : std::string();
}

bool XfsAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    const XfsRecord* r = record(id);
    if (!r || r->isDirectory()) return false;
    readThrough(out, limit, [&](DataSink& sink) { return volume_->extract(id, sink); });
    return true;
}

}  // namespace ondrel
