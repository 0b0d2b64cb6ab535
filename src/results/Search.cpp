#include "results/Search.h"

#include <regex>

namespace ondrel {

namespace {

struct Walker {
    const FileSystemAdapter& adapter;
    const std::regex& pattern;
    ScanObserver& observer;
    WorkControl& control;
    SearchOutcome& out;

    void match(EntryId file, const std::string& path) {
        if (!std::regex_search(adapter.name(file), pattern)) return;
        out.hits.push_back({file, path + "\\" + adapter.name(file)});
        observer.status("searched file " + std::to_string(out.hits.size()));
    }

    void walk(EntryId folder, const std::string& path, int depth) {
        // Trees rebuilt from damaged volumes can be deep; a bound keeps the stack safe.
        if (depth > 4096) return;
        for (EntryId c : adapter.children(folder)) {
            if (control.poll()) return;
            observer.progressPosition(static_cast<std::int64_t>(out.hits.size()));
            if (adapter.isFolder(c)) {
                if (!adapter.descendInto(c)) continue;
                std::string name = adapter.name(c);
                walk(c, name.empty() ? path : path + "\\" + name, depth + 1);
            } else {
                match(c, path);
            }
        }
    }
};

}  // namespace

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
        Walker walker{adapter, pattern, observer, control, out};
        for (EntryId top : adapter.children(adapter.rootEntry())) {
            if (adapter.isFolder(top)) {
                if (!adapter.descendInto(top)) continue;
                walker.walk(top, "\\" + adapter.name(top), 1);
                // Stop ends the folder being searched; the search goes on with the next one.
                if (control.stopRequested()) control.reset();
            } else {
                walker.match(top, "");
            }
        }
    }
    observer.message("Searching Finished");
    return out;
}

}  // namespace ondrel
