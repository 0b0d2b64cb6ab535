#pragma once
// Every entry a recovered tree shows, by its "/"-path from the top level.
#include "fs/FileSystemAdapter.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ondrel::test {

inline std::map<std::string, EntryId> reachablePaths(const FileSystemAdapter& a) {
    std::map<std::string, EntryId> out;
    std::vector<std::pair<EntryId, std::string>> stack{{a.rootEntry(), ""}};
    while (!stack.empty()) {
        auto [e, p] = stack.back();
        stack.pop_back();
        for (EntryId c : a.children(e)) {
            std::string cp = p + "/" + a.name(c);
            if (out.emplace(cp, c).second && a.isFolder(c) && a.descendInto(c)) stack.push_back({c, cp});
        }
    }
    return out;
}

}  // namespace ondrel::test
