#include "results/Search.h"

#include "results/TreeWalk.h"

#include <regex>

namespace ondrel {

SearchOutcome searchNames(const FileSystemAdapter& adapter, const std::string& text, ScanObserver& observer,
                          WorkControl& control) {
    SearchOutcome out;
    if (!text.empty() && adapter.rootEntry() != kNoEntry) {
        std::regex pattern;
        try {
            pattern = std::regex(text, std::regex::ECMAScript | std::regex::icase);
        } catch (const std::regex_error& e) {
            out.validPattern = false;
            observer.message("The search text \"" + text + "\" is not a valid regular expression (" + e.what() +
                             "). Use for example jpg|png to find several kinds of files.");
            return out;
        }
        std::vector<std::vector<std::string>> names;  // names[d - 1]: the names along paths[d - 1]
        auto match = [&](EntryId file, const std::string& path, const std::vector<std::string>& along) {
            const std::string name = adapter.name(file);
            if (!std::regex_search(name, pattern)) {
                // Names stored decomposed are also found from composed input.
                const std::string other = adapter.searchName(file);
                if (other == name || !std::regex_search(other, pattern)) return;
            }
            std::vector<std::string> all = along;
            all.push_back(name);
            out.hits.push_back({file, path + "\\" + name, std::move(all)});
            observer.status("searched file " + std::to_string(out.hits.size()));
        };
        std::vector<std::string> paths;  // paths[d - 1]: the folder of the entries at depth d
        TreeVisitor search;
        search.onEntry = [&](EntryId c, int depth) {
            if (control.poll()) return Visit::Stop;
            observer.progressPosition(static_cast<std::int64_t>(out.hits.size()));
            const std::string here = paths[static_cast<std::size_t>(depth - 1)];
            const std::vector<std::string> hereNames = names[static_cast<std::size_t>(depth - 1)];
            if (!adapter.isFolder(c)) {
                match(c, here, hereNames);
                return Visit::Skip;
            }
            std::string name = adapter.name(c);
            paths.resize(static_cast<std::size_t>(depth));
            names.resize(static_cast<std::size_t>(depth));
            paths.push_back(name.empty() ? here : here + "\\" + name);
            std::vector<std::string> deeper = hereNames;
            if (!name.empty()) deeper.push_back(name);
            names.push_back(std::move(deeper));
            return Visit::Enter;
        };
        for (EntryId top : adapter.children(adapter.rootEntry())) {
            if (adapter.isFolder(top)) {
                if (!adapter.descendInto(top)) continue;
                paths.assign(1, "\\" + adapter.name(top));
                names.assign(1, {adapter.name(top)});
                std::int64_t files = countFiles(adapter, top);
                observer.progressRange(0, files);
                walkTree(adapter, top, search);
                observer.progressPosition(files);
                // Stop ends the folder being searched; the search goes on with the next one.
                if (control.stopRequested()) control.reset();
            } else {
                match(top, "", {});
            }
        }
    }
    observer.message("Searching Finished");
    return out;
}

}  // namespace ondrel
