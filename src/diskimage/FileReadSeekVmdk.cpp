#include "diskimage/FileReadSeekVmdk.h"

#include "common/Endian.h"
#include "diskimage/ParentImage.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr std::uint32_t kCowdMagic = 0x44574F43;  // "COWD", the old ESX sparse format

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool endsWithVmdk(const std::string& name) {
    return name.size() >= 5 && upper(name.substr(name.size() - 5)) == ".VMDK";
}
}  // namespace

bool FileReadSeekVmdk::open(const std::string& path, const OpenOptions& options) {
    if (!openFile(path, options)) return false;
    std::array<std::uint8_t, 512> raw{};
    std::int64_t got = file_.readAt(0, raw.data(), raw.size());
    if (got < 4) return fail("The VMDK file is truncated: its header is incomplete.");
    std::uint32_t magic = le32(raw, 0x00);
    if (magic == kVmdkMagic) {
        if (got < 512) return fail("The VMDK file is truncated: its header is incomplete.");
        if (!openBinary(raw.data())) return false;
    } else if (magic == kCowdMagic) {
        return fail("This is an ESX sparse (COWD) VMDK extent, which cannot be read.");
    } else if (looksLikeVmdkDescriptor(std::string_view(reinterpret_cast<const char*>(raw.data()),
                                                        static_cast<std::size_t>(got)))) {
        if (!openDescriptorFile()) return false;
    } else {
        return fail("Not a VMDK file: it has neither the KDMV signature nor a text descriptor.");
    }
    return openChainParent();
}

bool FileReadSeekVmdk::openBinary(const std::uint8_t* head) {
    header = parseVmdkSparseHeader(head);
    auto sparse = std::make_unique<VmdkSparseExtent>();
    if (!sparse->open(file_, path_)) return fail(sparse->message());
    header = sparse->header();
    for (const std::string& w : sparse->warnings()) warn(w);

    // The embedded descriptor.
    if (header.descriptorOffset > 0 && header.descriptorSize > 0 && header.descriptorSize * 512 <= kMaxDescriptorBytes) {
        descriptorText.assign(header.descriptorSize * 512, '\0');
        std::int64_t n = file_.readAt(static_cast<std::int64_t>(header.descriptorOffset * 512), descriptorText.data(),
                                      descriptorText.size());
        descriptorText.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    std::uint64_t total = header.capacity;
    if (descriptorText.empty()) {
        warn("The VMDK file has no embedded descriptor; the disk size is taken from its header.");
    } else {
        auto parsed = parseVmdkDescriptor(descriptorText);
        if (!parsed) return fail("The VMDK descriptor has no createType entry; it is not a valid descriptor.");
        descriptor = std::move(*parsed);
        if (descriptor.extents.empty()) {
            warn("The VMDK descriptor lists no extents; the disk size is taken from its header.");
        } else {
            std::uint64_t listed = 0;  // saturates: a hostile size cannot wrap round
            for (const auto& e : descriptor.extents)
                if (__builtin_add_overflow(listed, e.sizeSectors, &listed)) listed = ~std::uint64_t(0);
            // The grains this file maps end at the header's capacity.
            total = listed;
            if (listed > header.capacity) {
                warn("The VMDK descriptor's extents list " + std::to_string(listed) + " sectors, more than the " +
                     std::to_string(header.capacity) + " the image holds; the disk is taken to end there.");
                total = header.capacity;
            }
        }
    }
    setSectorCount(total);
    grainSize = header.grainSize;
    entriesPerTable = header.entriesPerTable;
    gdEntryCount = static_cast<std::int64_t>(sparse->directoryEntries());
    checkTruncation(sparse->dataEnd(), "VMDK");

    Extent e;
    e.type = Extent::Type::Sparse;
    e.end = sectorCount() * 512;
    e.file = &file_;
    e.sparse = std::move(sparse);
    extents_.push_back(std::move(e));
    return true;
}

bool FileReadSeekVmdk::openDescriptorFile() {
    if (static_cast<std::uint64_t>(fileLength) > kMaxDescriptorBytes)
        return fail("The VMDK descriptor file is larger than any descriptor (" + std::to_string(fileLength) + " bytes).");
    descriptorText.assign(static_cast<std::size_t>(fileLength), '\0');
    std::int64_t n = file_.readAt(0, descriptorText.data(), descriptorText.size());
    descriptorText.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    auto parsed = parseVmdkDescriptor(descriptorText);
    if (!parsed) return fail("The VMDK descriptor has no createType entry; it is not a valid descriptor.");
    descriptor = std::move(*parsed);
    if (descriptor.tooManyExtents)
        return fail("The VMDK descriptor lists more than " + std::to_string(kMaxVmdkExtents) + " extents.");
    if (descriptor.extents.empty()) return fail("The VMDK descriptor lists no extents: there is no data to read.");
    std::uint64_t start = 0;
    for (const VmdkExtent& e : descriptor.extents) {
        if (e.sizeSectors > static_cast<std::uint64_t>(kMaxDiskBytes) / 512 ||
            start + e.sizeSectors * 512 > static_cast<std::uint64_t>(kMaxDiskBytes))
            return fail("The VMDK descriptor's extents list more sectors than any disk holds.");
        if (e.sizeSectors == 0) continue;
        if (!addExtent(e, start)) return false;
        start += e.sizeSectors * 512;
    }
    setSectorCount(start / 512);
    return true;
}

bool FileReadSeekVmdk::addExtent(const VmdkExtent& d, std::uint64_t start) {
    Extent e;
    e.start = start;
    e.end = start + d.sizeSectors * 512;
    std::string type = upper(d.type);
    if (type == "ZERO") {
        e.type = Extent::Type::Zero;
    } else if (type == "FLAT" || type == "VMFS") {
        e.type = Extent::Type::Flat;
    } else if (type == "SPARSE" || type == "VMFSSPARSE") {
        e.type = Extent::Type::Sparse;
    } else if (type == "VMFSRDM" || type == "VMFSRAW" || type == "VMFSRDMP") {
        return fail("The VMDK extent \"" + d.fileName + "\" maps a raw device, whose data is not in any file here.");
    } else {
        return fail("The VMDK descriptor names an extent type that cannot be read: " + d.type + ".");
    }
    if (d.access == "NOACCESS") e.type = Extent::Type::NoAccess;
    if (e.type == Extent::Type::Zero || e.type == Extent::Type::NoAccess) {
        extents_.push_back(std::move(e));
        return true;
    }

    // Extent files lie beside the descriptor (or in a folder below it); a name
    // with folders that no longer exist is tried by its last component too.
    if (d.fileName.empty()) return fail("The VMDK descriptor lists a " + d.type + " extent without a file name.");
    e.ownFile = std::make_unique<ReadOnlyFile>();
    e.path = openReferencedFile(d.fileName, "VMDK extent", *e.ownFile);
    if (e.path.empty()) return false;
    e.file = e.ownFile.get();
    e.typeName = d.type;
    std::uint64_t needed = e.end - e.start;
    if (e.type == Extent::Type::Flat) {
        if (d.offsetSectors > static_cast<std::uint64_t>(kMaxDiskBytes) / 1024)
            return fail("The VMDK extent \"" + d.fileName + "\" starts beyond any file.");
        e.flatOffset = static_cast<std::int64_t>(d.offsetSectors * 512);
        if (static_cast<std::uint64_t>(e.file->size()) < e.flatOffset + needed)
            warn("The VMDK extent " + d.fileName + " is truncated: it holds less than the " + std::to_string(needed / 512) +
                 " sectors the descriptor lists; the rest reads as zeros.");
    } else {
        std::array<std::uint8_t, 4> magic{};
        e.file->readAt(0, magic.data(), magic.size());
        if (le32(magic, 0) == kCowdMagic)
            return fail("The VMDK extent " + d.fileName + " is an ESX sparse (COWD) extent, which cannot be read.");
        e.sparse = std::make_unique<VmdkSparseExtent>();
        if (!e.sparse->open(*e.file, d.fileName)) return fail(e.sparse->message());
        for (const std::string& w : e.sparse->warnings()) warn(w);
        if (e.sparse->dataEnd() > e.file->size())
            warn("The VMDK extent " + d.fileName +
                 " is truncated: some of its data lies beyond the end of the file and reads as zeros.");
        if (grainSize == 0) {
            header = e.sparse->header();
            grainSize = header.grainSize;
            entriesPerTable = header.entriesPerTable;
            gdEntryCount = static_cast<std::int64_t>(e.sparse->directoryEntries());
        }
    }
    extents_.push_back(std::move(e));
    return true;
}

bool FileReadSeekVmdk::openChainParent() {
    std::string parentCID = upper(descriptor.parentCID);
    if (parentCID.empty() || parentCID == "FFFFFFFF") return true;
    const std::string& hint = descriptor.parentFileNameHint;
    if (hint.empty())
        return fail("The VMDK image " + path_ + " is a child of another image (parentCID " + descriptor.parentCID +
                    ") but does not name its parent.");
    if (!openParent(hint, endsWithVmdk(hint) ? std::optional<ImageKind>(ImageKind::Vmdk) : std::nullopt)) return false;
    std::string parentPath = parent_->layers().empty() ? hint : parent_->layers().front().path;
    // The parent must be a VMDK, and the very content the child was made from.
    auto* vmdk = dynamic_cast<FileReadSeekVmdk*>(parent_.get());
    if (!vmdk)
        return fail("The parent image " + parentPath + " named by " + path_ +
                    " is not a VMDK: a VMDK child is read only over the VMDK it was made from.");
    auto want = vmdkContentId(descriptor.parentCID), have = vmdkContentId(vmdk->descriptor.CID);
    if (!want || !have || *want != *have)
        return fail("The parent image " + parentPath + " has content ID " + vmdk->descriptor.CID + ", but " + path_ +
                    " was made from content ID " + descriptor.parentCID + ": the parent was changed or is another disk.");
    if (parent_->sectorCount() != sectorCount())
        return fail("The parent image " + parentPath + " holds " + std::to_string(parent_->sectorCount()) +
                    " sectors, but its child " + path_ + " holds " + std::to_string(sectorCount()) + ".");
    return true;
}

std::vector<ImageLayer> FileReadSeekVmdk::layers() const {
    std::vector<ImageLayer> out{{path_, layerKind(), parentName_, fileLength}};
    for (const Extent& e : extents_)
        if (e.ownFile) out.push_back({e.path, "VMDK " + e.typeName + " extent", "", e.ownFile->size()});
    if (parent_) {
        std::vector<ImageLayer> above = parent_->layers();
        out.insert(out.end(), above.begin(), above.end());
    }
    return out;
}

std::string FileReadSeekVmdk::layerKind() const {
    return descriptor.createType.empty() ? "VMDK" : "VMDK " + descriptor.createType;
}

std::size_t FileReadSeekVmdk::extentIndex(std::uint64_t offset) const {
    auto it = std::upper_bound(extents_.begin(), extents_.end(), offset,
                               [](std::uint64_t o, const Extent& e) { return o < e.end; });
    return static_cast<std::size_t>(it - extents_.begin());
}

ReaderDetails FileReadSeekVmdk::details() const {
    ReaderDetails d;
    d.version = descriptor.version;
    d.sectorsPerTrack = descriptor.sectors.empty() ? "N/A" : descriptor.sectors;
    d.heads = descriptor.heads.empty() ? "N/A" : descriptor.heads;
    d.cylinders = descriptor.cylinders.empty() ? "N/A" : descriptor.cylinders;
    d.add("Create type:", descriptor.createType);
    d.add("Grain size:", std::to_string(grainSize) + " sectors");
    return d;
}

BlockMappedReader::Mapping FileReadSeekVmdk::mapAt(std::uint64_t a) const {
    Mapping m;
    std::size_t i = extentIndex(a);
    if (i >= extents_.size()) {
        m.length = std::uint64_t(1) << 40;
        return m;
    }
    const Extent& e = extents_[i];
    m.length = e.end - a;
    switch (e.type) {
    case Extent::Type::Zero: m.kind = Kind::Zero; return m;
    case Extent::Type::NoAccess: m.reason = "its extent is marked NOACCESS"; return m;
    case Extent::Type::Flat:
        m.kind = Kind::Data;
        m.file = e.file;
        m.fileOffset = e.flatOffset + static_cast<std::int64_t>(a - e.start);
        return m;
    case Extent::Type::Sparse: break;
    }
    VmdkSparseExtent::Grain g = e.sparse->lookup(a - e.start);
    m.length = std::min(m.length, g.length);
    using G = VmdkSparseExtent::Grain::Kind;
    switch (g.kind) {
    case G::Unallocated: m.kind = parent_ ? Kind::Parent : Kind::Zero; break;
    case G::Zeroed: m.kind = Kind::Zero; break;
    case G::Unreadable:
        m.kind = Kind::Unmapped;
        m.reason = "its grain table cannot be read";
        break;
    case G::Compressed: m.kind = Kind::Decoded; break;
    case G::Data:
        m.kind = Kind::Data;
        m.file = e.file;
        m.fileOffset = g.fileOffset;
        break;
    }
    return m;
}

bool FileReadSeekVmdk::readDecoded(std::uint64_t pos, std::uint8_t* out, std::uint64_t length) const {
    bool ok = true;
    while (length > 0) {
        std::size_t i = extentIndex(pos);
        VmdkSparseExtent::Grain g;
        if (i < extents_.size() && extents_[i].sparse) g = extents_[i].sparse->lookup(pos - extents_[i].start);
        if (g.kind != VmdkSparseExtent::Grain::Kind::Compressed) {
            std::memset(out, 0, length);
            return false;
        }
        const Extent& e = extents_[i];
        std::uint64_t grainBytes = e.sparse->grainBytes();
        std::uint64_t rel = pos - e.start;
        std::uint64_t grain = rel / grainBytes, in = rel % grainBytes;
        std::uint64_t take = std::min({length, grainBytes - in, e.end - pos});
        std::shared_ptr<const DecodedGrain> hit = decoded_.get(GrainKey{i, grain}, [&] {
            DecodedGrain d{false, grainBuffers_.take([] { return std::make_unique<std::vector<std::uint8_t>>(); })};
            d.ok = e.sparse->inflateGrain(g.fileOffset, grain, *d.bytes);
            return d;
        });
        if (hit->bytes->size() >= in + take) std::memcpy(out, hit->bytes->data() + in, take);
        else std::memset(out, 0, take);
        ok = ok && hit->ok;
        pos += take;
        out += take;
        length -= take;
    }
    return ok;
}

}  // namespace ondrel
