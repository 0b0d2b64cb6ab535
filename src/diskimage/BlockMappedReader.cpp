#include "diskimage/BlockMappedReader.h"

#include "diskimage/ParentImage.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::uint64_t kMaxExtentBytes = std::uint64_t(256) << 20;
}  // namespace

bool BlockMappedReader::openFile(const std::string& path) {
    path_ = path;
    if (!file_.open(path)) {
        lastErrorCode_ = file_.errorCode();
        return fail("Invalid handle.");
    }
    fileLength = file_.size();
    return true;
}

bool BlockMappedReader::seek(std::int64_t offset, int method) {
    if (method != 0) return false;
    currentOffset = offset;
    std::int64_t a = 0;
    if (__builtin_add_overflow(offset, baseOffset, &a) || a < 0 || a > kMaxDiskBytes) {
        blockAllocated = false;
        return false;
    }
    Mapping m = mapAt(static_cast<std::uint64_t>(a));
    blockAllocated = m.kind == Kind::Data || m.kind == Kind::Decoded;
    return m.kind != Kind::Unmapped;
}

bool BlockMappedReader::readDecoded(std::uint64_t, std::uint8_t* out, std::uint64_t length) {
    std::memset(out, 0, length);
    return false;
}

bool BlockMappedReader::read(void* buffer, std::uint32_t byteCount) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t start = currentOffset + baseOffset;
    currentOffset += byteCount;
    if (start < 0) {
        std::memset(out, 0, byteCount);
        return false;
    }
    auto pos = static_cast<std::uint64_t>(start);
    std::uint64_t left = byteCount;
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
                lastErrorCode_ = f.errorCode();
                got = 0;
            }
            if (static_cast<std::uint64_t>(got) < take) {
                std::memset(out + got, 0, take - static_cast<std::uint64_t>(got));
                ok = false;
            }
        } else if (m.kind == Kind::Parent && parent_) {
            // A parent smaller than this disk (qcow2 allows it) reads as zeros past its end.
            std::uint64_t parentBytes = parent_->sectorCount() * kSectorSize;
            if (pos >= parentBytes) {
                std::memset(out, 0, take);
            } else {
                take = std::min(take, parentBytes - pos);
                parent_->baseOffset = 0;
                if (!parent_->readAt(static_cast<std::int64_t>(pos), out, static_cast<std::uint32_t>(take))) {
                    ok = false;
                    if (parent_->lastErrorCode()) lastErrorCode_ = parent_->lastErrorCode();
                }
            }
        } else if (m.kind == Kind::Decoded) {
            if (!readDecoded(pos, out, take)) ok = false;
        } else {
            std::memset(out, 0, take);
            if (m.kind == Kind::Unmapped) ok = false;
        }
        pos += take;
        out += take;
        left -= take;
    }
    blockAllocated = true;
    return ok;
}

std::optional<DiskExtent> BlockMappedReader::extentAt(std::int64_t offset) {
    std::int64_t a = offset + baseOffset;
    DiskExtent e;
    if (a < 0) return e;
    auto pos = static_cast<std::uint64_t>(a);
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
            if (e.fileOffset + static_cast<std::int64_t>(e.length) > e.file->size()) e.kind = DiskExtent::Kind::Unmapped;
        }
        return e;
    }
    case Kind::Zero: extend(); e.kind = DiskExtent::Kind::Zero; return e;
    case Kind::Unmapped: return e;
    case Kind::Decoded: e.kind = DiskExtent::Kind::ReadThrough; return e;
    case Kind::Parent: extend(); break;
    }
    std::uint64_t parentBytes = parent_ ? parent_->sectorCount() * kSectorSize : 0;
    if (pos >= parentBytes) {
        e.kind = DiskExtent::Kind::Zero;
        return e;
    }
    parent_->baseOffset = 0;
    std::optional<DiskExtent> p = parent_->extentAt(a);
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
    OpenedImage opened = openParentImage(path_, names, kind);
    if (!opened.reader) return fail(opened.message);
    parent_ = std::move(opened.reader);
    for (const std::string& w : parent_->warnings()) warn(w);
    return true;
}

void BlockMappedReader::checkTruncation(std::int64_t dataEnd, const char* what) {
    if (dataEnd > fileLength)
        warn(std::string("The ") + what + " file is truncated: some of its data lies beyond the end of the file and reads as zeros.");
}

}  // namespace ondrel
