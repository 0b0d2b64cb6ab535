// OLE2 compound files (old Office documents, MSI): the header, the FAT
// sectors it and the DIFAT chain list, and the highest sector the FAT marks
// in use; the file is the header sector and every sector up to that one. The
// directory names the kind (a WordDocument stream: doc; Workbook: xls;
// PowerPoint Document: ppt; the MSI class: msi). The end is verified when the
// last sector in use is one of the FAT, DIFAT or directory sectors read here.
#include "carving/structure/StructureCheck.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace ondrel {

namespace {
constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kFree = 0xFFFFFFFFu, kEndOfChain = 0xFFFFFFFEu, kMaxRegular = 0xFFFFFFFAu;
constexpr std::uint32_t kMaxFatSectors = 1 << 16;
constexpr int kMaxDirectorySectors = 4096;
// {000C1084-0000-0000-C000-000000000046} as it is stored.
constexpr std::uint8_t kMsiClass[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

class OleWalk {
public:
    explicit OleWalk(CarveCursor& c) : c_(c) {}

    StructureResult run() {
        std::uint8_t h[512];
        if (!c_.read(0, h, 8) || !std::equal(h, h + 8, kSignature)) return StructureResult::notMine();
        if (!c_.read(0, h, sizeof h)) return StructureResult::truncated(c_.limit());
        auto u16 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); };
        auto u32 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16) | static_cast<std::uint32_t>(h[at + 3]) << 24; };
        const std::uint32_t major = u16(0x1A), shift = u16(0x1E);
        if (u16(0x1C) != 0xFFFE || !((major == 3 && shift == 9) || (major == 4 && shift == 12)) || u16(0x20) != 6)
            return StructureResult::notAFile();
        sector_ = std::int64_t(1) << shift;
        const std::uint32_t fatCount = u32(0x2C), firstDirectory = u32(0x30);
        std::uint32_t difat = u32(0x44), difatCount = u32(0x48);
        if (fatCount == 0 || fatCount > kMaxFatSectors) return StructureResult::notAFile();
        // The FAT sectors lie in the file: more than the find can hold is a file longer than its cap.
        if (static_cast<std::int64_t>(fatCount) * sector_ > c_.limit()) return StructureResult::truncated(c_.limit());
        std::vector<std::uint32_t> fatSectors;
        for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i) {
            const std::uint32_t s = u32(0x4C + 4 * i);
            if (s == kFree) break;
            fatSectors.push_back(s);
        }
        // The DIFAT chain lists the FAT sectors the header has no room for.
        std::set<std::uint32_t> seen;
        const std::uint32_t perSector = static_cast<std::uint32_t>(sector_ / 4);
        while (fatSectors.size() < fatCount && difat <= kMaxRegular && difatCount-- > 0 && seen.insert(difat).second) {
            read(difat);
            for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i) {
                auto s = c_.le32(offsetOf(difat) + 4 * i);
                if (!s) return StructureResult::truncated(c_.limit());
                if (*s != kFree) fatSectors.push_back(*s);
            }
            auto next = c_.le32(offsetOf(difat) + 4 * (perSector - 1));
            if (!next) return StructureResult::truncated(c_.limit());
            difat = *next;
        }
        if (fatSectors.size() < fatCount) return StructureResult::notAFile();
        // The highest sector the FAT marks in use.
        std::int64_t last = -1;
        fat_.reserve(static_cast<std::size_t>(fatCount) * perSector);
        for (std::uint32_t s : fatSectors) {
            if (s > kMaxRegular || offsetOf(s) + sector_ > c_.limit()) return StructureResult::truncated(c_.limit());
            read(s);
            for (std::uint32_t i = 0; i < perSector; ++i) {
                auto v = c_.le32(offsetOf(s) + 4 * i);
                if (!v) return StructureResult::truncated(c_.limit());
                if (*v != kFree) last = static_cast<std::int64_t>(fat_.size());
                fat_.push_back(*v);
            }
        }
        if (last < 0) return StructureResult::notAFile();
        const char* extension = kind(firstDirectory);
        const std::int64_t end = offsetOf(static_cast<std::uint32_t>(last)) + sector_;
        if (end > c_.limit()) return StructureResult::truncated(c_.limit(), extension);
        return StructureResult::whole(end, read_.count(static_cast<std::uint32_t>(last)) > 0, extension);
    }

private:
    std::int64_t offsetOf(std::uint32_t s) const { return (static_cast<std::int64_t>(s) + 1) * sector_; }
    void read(std::uint32_t s) { read_.insert(s); }

    // The directory's entries named, following its chain through the FAT.
    const char* kind(std::uint32_t s) {
        std::set<std::uint32_t> seen;
        bool word = false, excel = false, powerPoint = false, msi = false;
        for (int n = 0; s <= kMaxRegular && n < kMaxDirectorySectors && seen.insert(s).second; ++n) {
            read(s);
            for (std::int64_t e = 0; e + 128 <= sector_; e += 128) {
                std::uint8_t entry[128];
                if (!c_.read(offsetOf(s) + e, entry, sizeof entry)) return nullptr;
                const int length = entry[0x40] | entry[0x41] << 8;
                std::string name;
                for (int i = 0; i + 1 < std::min(length, 64) - 1; i += 2) name.push_back(static_cast<char>(entry[i]));
                if (n == 0 && e == 0 && std::memcmp(entry + 0x50, kMsiClass, 16) == 0) msi = true;
                word |= name == "WordDocument";
                excel |= name == "Workbook" || name == "Book";
                powerPoint |= name == "PowerPoint Document";
            }
            if (s >= fat_.size()) break;
            s = fat_[s];
        }
        if (msi) return "msi";
        if (word) return "doc";
        if (excel) return "xls";
        if (powerPoint) return "ppt";
        return nullptr;
    }

    CarveCursor& c_;
    std::int64_t sector_ = 512;
    std::vector<std::uint32_t> fat_;
    std::set<std::uint32_t> read_;
};
}  // namespace

StructureResult checkOle2(CarveCursor& c) { return OleWalk(c).run(); }

}  // namespace ondrel
