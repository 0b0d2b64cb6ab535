#include "diskimage/BlockMappedReader.h"

#include "diskimage/ParentImage.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::uint64_t kMaxExtentBytes = std::uint64_t(256) << 20;
}  // namespace

bool BlockMappedReader::openFile(const std::string& path, const OpenOptions& options) {
    path_ = path;
    options_ = options;
    if (!file_.open(path)) {
        noteError(file_.errorCode());
        return fail("Invalid handle.");
    }
    fileLength = file_.size();
    return true;
}

bool BlockMappedReader::readDecoded(std::uint64_t, std::uint8_t* out, std::uint64_t length) const {
    std::memset(out, 0, length);
    return false;
}

bool BlockMappedReader::readAt(std::int64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (offset < 0 || offset > kMaxDiskBytes) {
        std::memset(out, 0, length);
        return false;
    }
    auto pos = static_cast<std::uint64_t>(offset);
    const std::uint64_t diskEnd = static_cast<std::uint64_t>(size());
    std::uint64_t left = length;
    bool ok = true;
    while (left > 0) {
        Mapping m = mapAt(pos);
        std::uint64_t take = std::min<std::uint64_t>(left, std::max<std::uint64_t>(m.length, 1));
        if (m.kind == Kind::Data) {
            const ReadOnlyFile& f = m.file ? *m.file : file_;
            // Extend over following runs that continue in the same file.
            while (take < left) {
                Mapping next = mapAt(pos + take);
                if (next.kind != Kind::Data || next.file != m.file ||
                    next.fileOffset != m.fileOffset + static_cast<std::int64_t>(take))
                    break;
                take += std::min<std::uint64_t>(left - take, std::max<std::uint64_t>(next.length, 1));
            }
            std::int64_t got = f.readAt(m.fileOffset, out, take);
            if (got < 0) {
                noteError(f.errorCode());
                got = 0;
            }
            if (static_cast<std::uint64_t>(got) < take) {
                std::memset(out + got, 0, take - static_cast<std::uint64_t>(got));
                ok = false;
                std::uint64_t missing = pos + static_cast<std::uint64_t>(got);
                if (missing < diskEnd)
                    damage_.note(missing, std::min(take - static_cast<std::uint64_t>(got), diskEnd - missing),
                                 got == 0 && f.errorCode() ? "the image file cannot be read there"
                                                           : "the image file ends before it");
            }
        } else if (m.kind == Kind::Parent && parent_) {
            // A parent smaller than this disk (qcow2 allows it) reads as zeros past its end.
            std::uint64_t parentBytes = parent_->sectorCount() * kSectorSize;
            if (pos >= parentBytes) {
                std::memset(out, 0, take);
            } else {
                take = std::min(take, parentBytes - pos);
                if (!parent_->readAt(static_cast<std::int64_t>(pos), out, take)) {
                    ok = false;
                    noteError(parent_->lastErrorCode());
                    if (pos < diskEnd) damage_.note(pos, std::min(take, diskEnd - pos), "its parent image cannot be read there");
                }
            }
        } else if (m.kind == Kind::Decoded) {
            if (!readDecoded(pos, out, take)) {
                ok = false;
                if (pos < diskEnd) damage_.note(pos, std::min(take, diskEnd - pos), decodeFailure());
            }
        } else {
            std::memset(out, 0, take);
            if (m.kind == Kind::Unmapped) {
                ok = false;
                if (pos < diskEnd) damage_.note(pos, std::min(take, diskEnd - pos), m.reason ? m.reason : "it is not mapped");
            }
        }
        pos += take;
        out += take;
        left -= take;
    }
    return ok;
}

std::optional<DiskExtent> BlockMappedReader::extentAt(std::int64_t offset) const {
    DiskExtent e;
    if (offset < 0) return e;
    auto pos = static_cast<std::uint64_t>(offset);
    Mapping m = mapAt(pos);
    e.length = std::max<std::uint64_t>(m.length, 1);
    // A copy moves one extent per system call: take in the runs that follow
    // the same way (the next cluster further on in the same file, more zeros).
    auto extend = [&] {
        while (e.length < kMaxExtentBytes) {
            Mapping next = mapAt(pos + e.length);
            bool same = next.kind == m.kind && next.file == m.file &&
                        (m.kind != Kind::Data || next.fileOffset == m.fileOffset + static_cast<std::int64_t>(e.length));
            if (!same || next.length == 0) break;
            e.length += next.length;
        }
    };
    switch (m.kind) {
    case Kind::Data: {
        extend();
        e.kind = DiskExtent::Kind::Data;
        e.fileOffset = m.fileOffset;
        e.file = m.file ? m.file : &file_;
        // Data past the end of a truncated file is not there to copy.
        if (e.fileOffset + static_cast<std::int64_t>(e.length) > e.file->size()) {
            e.length = std::max<std::uint64_t>(m.length, 1);
            if (e.fileOffset + static_cast<std::int64_t>(e.length) > e.file->size()) e.kind = DiskExtent::Kind::ReadThrough;
        }
        return e;
    }
    case Kind::Zero: extend(); e.kind = DiskExtent::Kind::Zero; return e;
    case Kind::Unmapped: e.kind = DiskExtent::Kind::ReadThrough; return e;
    case Kind::Decoded: e.kind = DiskExtent::Kind::ReadThrough; return e;
    case Kind::Parent: extend(); break;
    }
    std::uint64_t parentBytes = parent_ ? parent_->sectorCount() * kSectorSize : 0;
    if (pos >= parentBytes) {
        e.kind = DiskExtent::Kind::Zero;
        return e;
    }
    std::optional<DiskExtent> p = parent_->extentAt(offset);
    if (!p) {
        e.kind = DiskExtent::Kind::ReadThrough;
        e.length = std::min(e.length, parentBytes - pos);
        return e;
    }
    p->length = std::min({p->length, e.length, parentBytes - pos});
    if (p->kind == DiskExtent::Kind::Data && !p->file) p->file = parent_->imageFile();
    return p;
}

std::vector<ImageLayer> BlockMappedReader::layers() const {
    std::vector<ImageLayer> out{{path_, layerKind(), parentName_, fileLength}};
    if (parent_) {
        std::vector<ImageLayer> above = parent_->layers();
        out.insert(out.end(), above.begin(), above.end());
    }
    return out;
}

bool BlockMappedReader::openParent(const std::vector<std::string>& names, std::optional<ImageKind> kind) {
    parentName_ = names.empty() ? std::string() : names.front();
    OpenedImage opened = openParentImage(path_, names, kind, options_);
    if (!opened.reader) {
        refusedReference_ = opened.refusedReference;
        return fail(opened.message);
    }
    parent_ = std::move(opened.reader);
    parentKind_ = opened.kind;
    for (const std::string& w : parent_->warnings()) warn(w);
    return true;
}

std::string BlockMappedReader::openReferencedFile(const std::string& name, const std::string& what, ReadOnlyFile& file) {
    ResolvedReference ref = resolveReference(path_, {name}, options_, what);
    if (ref.path.empty()) {
        refusedReference_ = ref.refused;
        fail(ref.message);
        return {};
    }
    if (!file.open(ref.path)) {
        noteError(file.errorCode());
        fail("The " + what + " \"" + name + "\" named by " + path_ + " cannot be opened (" + ref.path + ").");
        return {};
    }
    return ref.path;
}

void BlockMappedReader::checkTruncation(std::int64_t dataEnd, const char* what) {
    if (dataEnd > fileLength)
        warn(std::string("The ") + what + " file is truncated: some of its data lies beyond the end of the file and reads as zeros.");
}

}  // namespace ondrel
