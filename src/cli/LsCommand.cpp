// ondrel-cli ls: the whole recovered tree of a volume, one line per entry.
#include "cli/Commands.h"
#include "cli/EntryLines.h"
#include "cli/VolumeOptions.h"

#include <unordered_set>

namespace ondrel::cli {

namespace {

void list(const FileSystemAdapter& adapter, EntryId folder, const std::string& path, bool json,
          std::unordered_set<EntryId>& seen, int depth) {
    if (depth > 4096) return;
    for (EntryId c : adapter.children(folder)) {
        if (!seen.insert(c).second) continue;
        std::string p = path + "/" + adapter.name(c);
        printEntry(adapter, c, p, json);
        if (adapter.isFolder(c) && adapter.descendInto(c)) list(adapter, c, p, json, seen, depth + 1);
    }
}

int runLs(VolumeOptions& o) {
    auto v = scanVolume(o);
    if (!v) return kExitFailure;
    if (v->listedCandidatesOnly) return kExitOk;
    std::unordered_set<EntryId> seen;
    if (v->adapter->rootEntry() != kNoEntry) list(*v->adapter, v->adapter->rootEntry(), "", o.json, seen, 0);
    return o.image.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addLsCommand(CLI::App& app) {
    auto o = std::make_shared<VolumeOptions>();
    auto* cmd = app.add_subcommand("ls", "List the recovered tree of a volume (deleted and orphaned entries included)");
    o->addTo(*cmd);
    return [o] { return runLs(*o); };
}

}  // namespace ondrel::cli
