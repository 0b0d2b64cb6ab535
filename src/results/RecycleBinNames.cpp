#include "results/RecycleBinNames.h"

#include "common/Endian.h"
#include "common/Utf16.h"
#include "results/TreeWalk.h"

#include <map>

namespace ondrel {

std::optional<std::string> parseRecycleBinInfo(const std::vector<std::uint8_t>& record) {
    if (record.size() < 26) return std::nullopt;
    std::uint64_t version = le64(record, 0);
    std::string path;
    if (version == 2) {
        std::uint32_t chars = le32(record, 24);
        path = utf16leToUtf8(record, 28, chars, true);
    } else if (version == 1) {
        path = utf16leToUtf8(record, 24, 260, true);
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
        // The pairs sit in per-user folders (as Windows keeps them on NTFS) or
        // in the recycle-bin folder itself (older FAT layouts): both are looked at.
        std::vector<EntryId> folders{top};
        TreeVisitor users;
        users.onEntry = [&](EntryId user, int) {
            if (adapter.isFolder(user)) folders.push_back(user);
            return Visit::Skip;
        };
        walkTree(adapter, top, users);
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
