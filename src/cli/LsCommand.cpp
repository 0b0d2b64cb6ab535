// ondrel-cli ls: the whole recovered tree of a volume, one line per entry.
#include "cli/Commands.h"
#include "cli/EntryLines.h"
#include "cli/VolumeOptions.h"

#include "results/TreeWalk.h"

namespace ondrel::cli {

namespace {

int runLs(VolumeOptions& o) {
    auto v = scanVolume(o);
    if (!v) return kExitFailure;
    if (v->listedCandidatesOnly) return o.image.hadWarnings ? kExitFailure : kExitOk;
    const FileSystemAdapter& adapter = *v->adapter;
    if (adapter.rootEntry() != kNoEntry) {
        std::vector<std::string> names;  // names[d - 1]: the name of the entry at depth d on the way down
        TreeVisitor list;
        list.onEntry = [&](EntryId c, int depth) {
            names.resize(static_cast<std::size_t>(depth - 1));
            names.push_back(adapter.name(c));
            printEntry(adapter, c, names, o.json);
            return Visit::Enter;
        };
        walkTree(adapter, adapter.rootEntry(), list);
    }
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
