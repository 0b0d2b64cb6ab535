#include "results/RecycleBinNames.h"

#include "common/Endian.h"

#include <map>

namespace ondrel {

namespace {

std::string utf16ToUtf8(const std::vector<std::uint8_t>& b, std::size_t off, std::size_t maxChars) {
    std::string out;
    for (std::size_t i = 0; i < maxChars && off + i * 2 + 1 < b.size(); ++i) {
        std::uint32_t c = le16(b, off + i * 2);
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && off + i * 2 + 3 < b.size()) {
            std::uint32_t low = le16(b, off + i * 2 + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) out += static_cast<char>(c);
        else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> parseRecycleBinInfo(const std::vector<std::uint8_t>& record) {
    if (record.size() < 26) return std::nullopt;
    std::uint64_t version = le64(record, 0);
    std::string path;
    if (version == 2) {
        std::uint32_t chars = le32(record, 24);
        path = utf16ToUtf8(record, 28, chars);
    } else if (version == 1) {
        path = utf16ToUtf8(record, 24, 260);
    } else {
        return std::nullopt;
    }
    if (path.empty()) return std::nullopt;
    return path;
}

int nameRecycleBinEntries(FileSystemAdapter& adapter) {
    EntryId root = adapter.rootEntry();
    if (root == kNoEntry) return 0;
    int renamed = 0;
    for (EntryId top : adapter.children(root)) {
        std::string topName = adapter.name(top);
        if (!adapter.isFolder(top) || (topName != "$RECYCLE.BIN" && topName != "$RECYCLEBIN")) continue;
        std::vector<EntryId> folders;
        if (adapter.recycleBinHasUserFolders()) {
            for (EntryId user : adapter.children(top))
                if (adapter.isFolder(user)) folders.push_back(user);
        } else {
            folders.push_back(top);
        }
        for (EntryId folder : folders) {
            std::map<std::string, std::string> names;  // "$I" name -> original name
            std::vector<EntryId> kids = adapter.children(folder);
            for (EntryId kid : kids) {
                std::string n = adapter.name(kid);
                if (n.rfind("$I", 0) != 0 || adapter.isFolder(kid)) continue;
                std::vector<std::uint8_t> record;
                // Records are small; a larger "$I" file is not one.
                if (!adapter.readContent(kid, record, 2048) || record.size() >= 2048) continue;
                if (auto path = parseRecycleBinInfo(record)) {
                    auto slash = path->find_last_of('\\');
                    names[n] = slash == std::string::npos ? *path : path->substr(slash + 1);
                }
            }
            for (const auto& [infoName, original] : names) {
                std::string dataName = "$R" + infoName.substr(2);
                for (EntryId kid : kids)
                    if (adapter.name(kid) == dataName && !original.empty()) {
                        adapter.rename(kid, original);
                        ++renamed;
                    }
            }
        }
    }
    return renamed;
}

}  // namespace ondrel
