#include "fs/ext/ExtAdapter.h"

#include "fs/DisplayFormat.h"
#include "fs/DataSink.h"
#include "fs/JournalCandidate.h"

namespace ondrel {

ExtAdapter::ExtAdapter(const ByteSource& reader, const VolumeRecord& volume)
    : parser_(std::make_unique<ext2Class>(reader, volume)) {}

bool ExtAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    parser_->reportTo(observer, control);
    if (mode == RecoveryMode::Advanced) return parser_->scanJournal(failure);
    if (mode != RecoveryMode::Standard) {
        failure = "ext volumes are read in the standard mode or, with a journal, the advanced mode.";
        return false;
    }
    return parser_->scanStandard(failure);
}

AdvancedSearch ExtAdapter::findCandidates(int, ScanObserver& observer, WorkControl& control) {
    parser_->reportTo(observer, control);
    std::string failure;
    std::int64_t at = -1;
    {
        ScanObserver& quiet = silentObserver();
        parser_->reportTo(quiet, control);
        if (parser_->scanStandard(failure)) at = parser_->journalOffset();
        parser_->reportTo(observer, control);
    }
    return journalSearch(at, parser_->geometry().blockSize,
                         "This volume has no journal: the advanced mode reads the journal of ext3 and ext4 volumes.");
}

bool ExtAdapter::chooseCandidate(const AdvancedChoice& choice, std::string& failure) {
    return chooseTheJournal(choice, "journal", failure);
}

const ExtInodeRecord* ExtAdapter::record(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(parser_->records().size())) return nullptr;
    return &parser_->records()[static_cast<std::size_t>(id)];
}

std::vector<EntryId> ExtAdapter::children(EntryId folder) const {
    if (!record(folder)) return {};
    return parser_->tree().children(folder);
}

bool ExtAdapter::isFolder(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return r && r->isDirectory();
}

bool ExtAdapter::isLink(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return r && r->isSymlink();
}

bool ExtAdapter::countedButSkipped(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    if (!r) return false;
    std::uint16_t t = r->type();
    return t == 0x1000 || t == 0x2000 || t == 0x6000 || t == 0xC000;
}

bool ExtAdapter::hasChildren(EntryId id) const { return record(id) && parser_->tree().hasChildren(id); }

bool ExtAdapter::isDeleted(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return r && r->deleted;
}

std::string ExtAdapter::name(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return r ? r->name : std::string();
}

std::uint64_t ExtAdapter::size(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return r && !r->isDirectory() ? r->size : 0;
}

EntryTimes ExtAdapter::times(EntryId id) const {
    EntryTimes t;
    const ExtInodeRecord* r = record(id);
    if (!r || id == 0) return t;
    // Seconds since 1970 UTC: the inode change time stands for creation.
    t.created = toUtcCivil(r->ctime);
    t.accessed = toUtcCivil(r->atime);
    t.modified = toUtcCivil(r->mtime);
    t.accessInstant = UnixTime{r->atime, 0};
    t.modifiedInstant = UnixTime{r->mtime, 0};
    return t;
}

DisplayTexts ExtAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const ExtInodeRecord* r = record(id);
    if (!r || id == 0) return d;
    d.creation = formatTime(toLocalCivil(r->ctime));
    d.access = formatTime(toLocalCivil(r->atime));
    d.modification = formatTime(toLocalCivil(r->mtime));
    d.attributes = attributeText(id);
    return d;
}

std::string ExtAdapter::attributeText(EntryId id) const {
    const ExtInodeRecord* r = record(id);
    return !r || id == 0 ? std::string() : unixPermissionText(r->mode);
}

WriteResult ExtAdapter::writeInto(EntryId id, OutputFile& file) {
    const ExtInodeRecord* r = record(id);
    if (!r || r->isDirectory()) return WriteResult::NotAFile;
    // Nothing to save (a node, or a file the kernel deleted): no empty file is left.
    ExtInode n;
    if (!r->fromJournal && parser_->readInode(r->number + 1, n) &&
        ((!n.isRegular() && !n.isSymlink()) || (r->deleted && n.size == 0)))
        return WriteResult::NoData;
    return writeThrough(id, file, [&](DataSink& sink) { return parser_->extract(*r, sink); });
}

bool ExtAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    const ExtInodeRecord* r = record(id);
    if (!r || r->isDirectory()) return false;
    readThrough(out, limit, [&](DataSink& sink) { return parser_->extract(*r, sink); });
    return true;
}

void ExtAdapter::rename(EntryId id, const std::string& newName) { parser_->rename(static_cast<std::int32_t>(id), newName); }

}  // namespace ondrel
