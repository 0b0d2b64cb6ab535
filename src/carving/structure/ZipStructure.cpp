// ZIP and the formats built on it (OOXML, OpenDocument, EPUB, JAR, APK): the
// local entries from the first header (sizes from the header, its Zip64 extra
// field, or the data descriptor that follows the data), the central directory
// they lead to, and the end-of-central-directory record (after a Zip64 end
// record and locator) whose comment closes the file. An archive whose entries
// do not lead there (an entry rewritten in place, a gap) is tried once more
// from its end record: its central directory must lie inside the find and
// name local headers there.
#include "carving/structure/StructureCheck.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace ondrel {

namespace {
constexpr std::uint32_t kLocal = 0x04034b50, kCentral = 0x02014b50, kEnd = 0x06054b50, kEnd64 = 0x06064b50,
                        kLocator64 = 0x07064b50, kDescriptor = 0x08074b50, kSignature = 0x05054b50;
constexpr std::int64_t kMaxEntries = 1 << 20;
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFFu;
constexpr std::int64_t kBroken = -1, kPastLimit = -2;
// Local headers the end record's directory must name, checked when the entries did not lead to it.
constexpr std::int64_t kLocalsChecked = 16;

bool knownMethod(std::uint16_t m) {
    return m <= 20 || m == 93 || m == 94 || m == 95 || m == 96 || m == 97 || m == 98 || m == 99;
}

struct Names {
    bool contentTypes = false, word = false, excel = false, powerPoint = false, android = false, manifest = false;
    std::string mimetype;

    void see(const std::string& name) {
        contentTypes |= name == "[Content_Types].xml";
        word |= name.rfind("word/", 0) == 0;
        excel |= name.rfind("xl/", 0) == 0;
        powerPoint |= name.rfind("ppt/", 0) == 0;
        android |= name == "AndroidManifest.xml";
        manifest |= name == "META-INF/MANIFEST.MF";
    }
    const char* extension() const {
        if (mimetype == "application/epub+zip") return "epub";
        if (mimetype == "application/vnd.oasis.opendocument.text") return "odt";
        if (mimetype == "application/vnd.oasis.opendocument.spreadsheet") return "ods";
        if (mimetype == "application/vnd.oasis.opendocument.presentation") return "odp";
        if (mimetype == "application/vnd.oasis.opendocument.graphics") return "odg";
        if (contentTypes && word) return "docx";
        if (contentTypes && excel) return "xlsx";
        if (contentTypes && powerPoint) return "pptx";
        if (android) return "apk";
        if (manifest) return "jar";
        return nullptr;
    }
};

class ZipWalk {
public:
    explicit ZipWalk(CarveCursor& c) : c_(c) {}

    StructureResult run() {
        auto first = c_.le32(0);
        if (!first || *first != kLocal) return StructureResult::notMine();
        if (!plausibleLocal(0)) return StructureResult::notAFile();
        std::int64_t pos = 0, broke = -1;
        std::int64_t entries = 0;
        for (; entries < kMaxEntries; ++entries) {
            auto sig = c_.le32(pos);
            if (!sig) return StructureResult::truncated(c_.limit());
            if (*sig != kLocal) break;
            const std::int64_t next = entryEnd(pos);
            if (next == kPastLimit) return StructureResult::truncated(c_.limit());
            if (next < 0) {
                broke = pos;
                break;
            }
            pos = next;
        }
        if (broke < 0) {
            if (auto whole = fromCentralDirectory(pos, false)) return *whole;
            broke = pos;
        }
        if (c_.stopped()) return broke > 0 ? StructureResult::truncated(broke) : StructureResult::notAFile();
        // The entries do not lead to a central directory: the end record may still hold one here.
        if (auto whole = fromEndRecord(broke)) return *whole;
        if (broke >= c_.limit() || c_.stopped()) return StructureResult::truncated(c_.limit());
        // A first entry that is already broken leaves no valid bytes: no zip at all.
        return broke > 0 ? StructureResult::truncated(broke) : StructureResult::notAFile();
    }

private:
    bool plausibleLocal(std::int64_t pos) {
        auto version = c_.le16(pos + 4), flags = c_.le16(pos + 6), method = c_.le16(pos + 8), name = c_.le16(pos + 26);
        if (!version || !flags || !method || !name) return false;
        return (*version & 0xFF) <= 100 && knownMethod(*method) && *name > 0;
    }

    // The Zip64 extra field's compressed size (after the uncompressed one when that is also unknown).
    std::optional<std::uint64_t> zip64Size(std::int64_t extra, std::uint16_t extraLength, bool uncompressedToo) {
        for (std::int64_t p = extra; p + 4 <= extra + extraLength;) {
            auto id = c_.le16(p), size = c_.le16(p + 2);
            if (!id || !size) return std::nullopt;
            if (*id == 0x0001) return c_.le64(p + 4 + (uncompressedToo ? 8 : 0));
            p += 4 + *size;
        }
        return std::nullopt;
    }

    // Where the local entry at pos ends (after its data and descriptor);
    // kBroken when it does not parse, kPastLimit when it would end past the limit.
    std::int64_t entryEnd(std::int64_t pos) {
        std::uint8_t h[30];
        if (!c_.read(pos, h, sizeof h)) return kPastLimit;
        if (!plausibleLocal(pos)) return kBroken;
        const std::uint16_t flags = static_cast<std::uint16_t>(h[6] | h[7] << 8);
        const std::uint32_t packed = static_cast<std::uint32_t>(h[18] | h[19] << 8 | h[20] << 16) | static_cast<std::uint32_t>(h[21]) << 24;
        const std::uint32_t plain = static_cast<std::uint32_t>(h[22] | h[23] << 8 | h[24] << 16) | static_cast<std::uint32_t>(h[25]) << 24;
        const std::uint16_t nameLength = static_cast<std::uint16_t>(h[26] | h[27] << 8);
        const std::uint16_t extraLength = static_cast<std::uint16_t>(h[28] | h[29] << 8);
        const std::int64_t data = pos + 30 + nameLength + extraLength;
        if (pos == 0) noteFirst(pos + 30, nameLength, data, packed, static_cast<std::uint16_t>(h[8] | h[9] << 8));
        bool zip64 = false;
        std::uint64_t size = packed;
        if (packed == kUnknown32) {
            auto s = zip64Size(pos + 30 + nameLength, extraLength, plain == kUnknown32);
            if (!s) return kBroken;
            size = *s;
            zip64 = true;
        }
        if (!(flags & 0x08)) return checkedEnd(data, size);
        if (size != 0) {
            const std::int64_t end = checkedEnd(data, size);
            if (end < 0) return end;
            return afterDescriptor(end, zip64);
        }
        // Streamed: the size is only in the descriptor after the data.
        for (std::int64_t from = data;;) {
            const std::uint8_t want[4] = {'P', 'K', 7, 8};
            const std::int64_t d = c_.find(from, c_.limit(), want, 4);
            if (d < 0) return kPastLimit;
            auto small = c_.le32(d + 8);
            if (small && *small == static_cast<std::uint64_t>(d - data)) return d + 16;
            auto large = c_.le64(d + 8);
            if (large && *large == static_cast<std::uint64_t>(d - data)) return d + 24;
            from = d + 1;
        }
    }

    std::int64_t checkedEnd(std::int64_t data, std::uint64_t size) {
        if (size > static_cast<std::uint64_t>(kMaxDiskBytes) || data + static_cast<std::int64_t>(size) > c_.limit()) return kPastLimit;
        return data + static_cast<std::int64_t>(size);
    }

    std::int64_t afterDescriptor(std::int64_t end, bool zip64) {
        auto sig = c_.le32(end);
        if (!sig) return kPastLimit;
        return end + (*sig == kDescriptor ? 4 : 0) + (zip64 ? 20 : 12);
    }

    void noteFirst(std::int64_t name, std::uint16_t nameLength, std::int64_t data, std::uint32_t packed, std::uint16_t method) {
        char text[9];
        if (nameLength != 8 || !c_.read(name, text, 8) || std::memcmp(text, "mimetype", 8) != 0) return;
        if (method != 0 || packed == 0 || packed > 100) return;
        std::string mime(packed, '\0');
        if (c_.read(data, mime.data(), packed)) names_.mimetype = mime;
    }

    // From the central directory at cd: its entries, an optional digital
    // signature, the Zip64 end record and locator, and the end record that
    // must name this directory. The result when they all hold.
    std::optional<StructureResult> fromCentralDirectory(std::int64_t cd, bool checkLocals) {
        std::int64_t pos = cd, count = 0;
        for (; count < kMaxEntries; ++count) {
            auto sig = c_.le32(pos);
            if (!sig || *sig != kCentral) break;
            std::uint8_t h[46];
            if (!c_.read(pos, h, sizeof h)) return std::nullopt;
            const std::uint16_t n = static_cast<std::uint16_t>(h[28] | h[29] << 8), m = static_cast<std::uint16_t>(h[30] | h[31] << 8),
                                k = static_cast<std::uint16_t>(h[32] | h[33] << 8);
            const std::uint32_t local = static_cast<std::uint32_t>(h[42] | h[43] << 8 | h[44] << 16) | static_cast<std::uint32_t>(h[45]) << 24;
            if (local != kUnknown32 && static_cast<std::int64_t>(local) >= cd) return std::nullopt;
            if (checkLocals && count < kLocalsChecked && local != kUnknown32) {
                auto at = c_.le32(local);
                if (!at || *at != kLocal) return std::nullopt;
            }
            std::string name(std::min<std::uint16_t>(n, 64), '\0');
            if (!c_.read(pos + 46, name.data(), name.size())) return std::nullopt;
            names_.see(name);
            pos += 46 + n + m + k;
        }
        if (auto sig = c_.le32(pos); sig && *sig == kSignature) {
            auto size = c_.le16(pos + 4);
            if (!size) return std::nullopt;
            pos += 6 + *size;
        }
        const std::int64_t cdEnd = pos;
        bool zip64 = false;
        if (auto sig = c_.le32(pos); sig && *sig == kEnd64) {
            auto size = c_.le64(pos + 4);
            if (!size || *size > (1u << 20)) return std::nullopt;
            pos += 12 + static_cast<std::int64_t>(*size);
            zip64 = true;
        }
        if (auto sig = c_.le32(pos); sig && *sig == kLocator64) pos += 20;
        auto sig = c_.le32(pos);
        if (!sig || *sig != kEnd) return std::nullopt;
        auto cdSize = c_.le32(pos + 12), cdOffset = c_.le32(pos + 16);
        auto comment = c_.le16(pos + 20);
        if (!cdSize || !cdOffset || !comment) return std::nullopt;
        const bool offsetOk = *cdOffset == static_cast<std::uint64_t>(cd) || (zip64 && *cdOffset == kUnknown32);
        const bool sizeOk = *cdSize == static_cast<std::uint64_t>(cdEnd - cd) || (zip64 && *cdSize == kUnknown32);
        if (!offsetOk || !sizeOk) return std::nullopt;
        const std::int64_t end = pos + 22 + *comment;
        if (end > c_.limit()) return StructureResult::truncated(c_.limit(), names_.extension());
        return StructureResult::whole(end, true, names_.extension());
    }

    // An end record after from whose directory (Zip64 or not) lies inside
    // the find and is followed by it; that directory is then walked as above.
    std::optional<StructureResult> fromEndRecord(std::int64_t from) {
        const std::uint8_t want[4] = {'P', 'K', 5, 6};
        for (std::int64_t e = from; (e = c_.find(e, c_.limit(), want, 4)) >= 0; ++e) {
            auto cdSize = c_.le32(e + 12), cdOffset = c_.le32(e + 16);
            if (!cdSize || !cdOffset) return std::nullopt;
            std::uint64_t size = *cdSize, offset = *cdOffset;
            if (size == kUnknown32 || offset == kUnknown32) {
                auto locator = c_.le32(e - 20);
                auto record = c_.le64(e - 12);
                if (!locator || *locator != kLocator64 || !record || *record >= static_cast<std::uint64_t>(e)) continue;
                auto sig = c_.le32(static_cast<std::int64_t>(*record));
                auto s = c_.le64(static_cast<std::int64_t>(*record) + 40), o = c_.le64(static_cast<std::int64_t>(*record) + 48);
                if (!sig || *sig != kEnd64 || !s || !o) continue;
                size = *s;
                offset = *o;
            }
            if (offset >= static_cast<std::uint64_t>(e) || size > static_cast<std::uint64_t>(e)) continue;
            auto first = c_.le32(static_cast<std::int64_t>(offset));
            if (size > 0 && (!first || *first != kCentral)) continue;
            if (auto local = c_.le32(0); !local || *local != kLocal) continue;
            if (auto whole = fromCentralDirectory(static_cast<std::int64_t>(offset), true)) return whole;
            if (c_.stopped()) return std::nullopt;
        }
        return std::nullopt;
    }

    CarveCursor& c_;
    Names names_;
};
}  // namespace

StructureResult checkZip(CarveCursor& c) { return ZipWalk(c).run(); }

}  // namespace ondrel
