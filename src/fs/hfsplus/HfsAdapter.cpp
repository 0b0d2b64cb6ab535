#include "fs/hfsplus/HfsAdapter.h"

#include "fs/DataSink.h"
#include "fs/DisplayFormat.h"
#include "fs/hfsplus/HfsNames.h"

namespace ondrel {

HfsAdapter::HfsAdapter(const ByteSource& reader, const VolumeRecord& volume)
    : parser_(std::make_unique<HFSP>(reader, volume)) {}

bool HfsAdapter::scan(RecoveryMode mode, ScanObserver& observer, WorkControl& control, std::string& failure) {
    parser_->reportTo(observer, control);
    return mode == RecoveryMode::Standard ? parser_->scanStandard(failure) : parser_->scanDeep(failure);
}

const HfsCatalogRecord* HfsAdapter::record(EntryId id) const {
    if (id < 0 || id >= static_cast<EntryId>(parser_->records().size())) return nullptr;
    return &parser_->records()[static_cast<std::size_t>(id)];
}

std::vector<EntryId> HfsAdapter::children(EntryId folder) const {
    if (!record(folder)) return {};
    std::vector<EntryId> out = parser_->tree().children(folder);
    std::erase_if(out, [&](EntryId c) { return parser_->hidden(c); });
    return out;
}

bool HfsAdapter::isFolder(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    return r && r->isFolder();
}

bool HfsAdapter::isLink(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    return r && !r->isFolder() && r->isSymlink();
}

bool HfsAdapter::hasChildren(EntryId id) const { return record(id) && parser_->tree().hasChildren(id); }

bool HfsAdapter::isDeleted(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    return r && r->deleted;
}

std::string HfsAdapter::name(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    return r ? r->name : std::string();
}

std::string HfsAdapter::searchName(EntryId id) const { return composedName(name(id)); }

std::uint64_t HfsAdapter::size(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    return r && !r->isFolder() ? parser_->logicalSize(id) : 0;
}

EntryTimes HfsAdapter::times(EntryId id) const {
    EntryTimes t;
    const HfsCatalogRecord* r = record(id);
    if (!r || r->ownId == 0) return t;
    // Catalog dates are UTC instants; the content-modification date is the file's.
    t.created = toUtcCivil(hfsTimeToUnix(r->createDate));
    t.accessed = toUtcCivil(hfsTimeToUnix(r->accessDate));
    t.modified = toUtcCivil(hfsTimeToUnix(r->contentModDate));
    t.accessInstant = UnixTime{hfsTimeToUnix(r->accessDate), 0};
    t.modifiedInstant = UnixTime{hfsTimeToUnix(r->contentModDate), 0};
    return t;
}

DisplayTexts HfsAdapter::displayTexts(EntryId id) const {
    DisplayTexts d;
    const HfsCatalogRecord* r = record(id);
    if (!r || r->ownId == 0) return d;
    d.creation = formatTime(toLocalCivil(hfsTimeToUnix(r->createDate)));
    d.access = formatTime(toLocalCivil(hfsTimeToUnix(r->accessDate)));
    d.modification = formatTime(toLocalCivil(hfsTimeToUnix(r->contentModDate)));
    d.attributes = attributeText(id);
    return d;
}

std::string HfsAdapter::attributeText(EntryId id) const {
    const HfsCatalogRecord* r = record(id);
    std::string out;
    if (!r) return out;
    static const std::pair<std::uint16_t, const char*> bits[] = {
        {0x040, "-Owner:X"}, {0x080, "-Owner:W"}, {0x100, "-Owner:R"}, {0x001, "-OX"}, {0x002, "-OW"},
        {0x004, "-OR"},      {0x008, "-GX"},      {0x010, "-GW"},      {0x020, "-GR"}};
    for (const auto& [bit, text] : bits)
        if (r->fileMode & bit) out += text;
    return out;
}

std::string HfsAdapter::writeFailureText(EntryId id, WriteResult result) const {
    return result == WriteResult::NoData ? parser_->noDataReason(id) : std::string();
}

WriteResult HfsAdapter::writeInto(EntryId id, OutputFile& file) {
    const HfsCatalogRecord* r = record(id);
    if (!r || r->isFolder()) return WriteResult::NotAFile;
    // Nothing that could be written right (an unknown compression): no file is left.
    if (!parser_->noDataReason(id).empty()) return WriteResult::NoData;
    return writeThrough(id, file, [&](DataSink& sink) { return parser_->extract(id, sink); });
}

bool HfsAdapter::readContent(EntryId id, std::vector<std::uint8_t>& out, std::size_t limit) {
    out.clear();
    const HfsCatalogRecord* r = record(id);
    if (!r || r->isFolder()) return false;
    readThrough(out, limit, [&](DataSink& sink) { return parser_->extract(id, sink); });
    return true;
}

}  // namespace ondrel
