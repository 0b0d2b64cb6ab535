#pragma once
// Finding recovered files by name: an ECMAScript regular expression, without
// regard to case, matched anywhere in the name, over the whole recovered tree
// (deleted entries included).
#include "fs/FileSystemAdapter.h"

#include <string>
#include <vector>

namespace ondrel {

struct SearchHit {
    EntryId entry = kNoEntry;
    std::string path;  // "\"-separated from the root: "\docs\a.txt"
    // The names along the path, the file's own last (a name may hold a separator).
    std::vector<std::string> names;
};

struct SearchOutcome {
    bool validPattern = true;
    std::vector<SearchHit> hits;
};

// Reports "searched file %lld" per match and "Searching Finished" at the end;
// an invalid pattern gets a clear message and no hits.
SearchOutcome searchNames(const FileSystemAdapter& adapter, const std::string& text, ScanObserver& observer,
                          WorkControl& control);

}  // namespace ondrel
