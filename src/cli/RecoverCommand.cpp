// ondrel-cli recover: saves a recovered folder (or file) with the save walk.
#include "cli/Commands.h"
#include "cli/VolumeOptions.h"
#include "results/SaveWalk.h"

#include <cstdio>
#include <sstream>

namespace ondrel::cli {

namespace {

struct RecoverOptions {
    VolumeOptions volume;
    std::string out;
    std::string path = "/";
    bool liveOnly = false;
};

// The entry at a "/"-separated path from the volume root; kNoEntry when none.
EntryId resolve(const FileSystemAdapter& adapter, const std::string& path) {
    EntryId at = adapter.rootEntry();
    std::stringstream parts(path);
    std::string part;
    while (at != kNoEntry && std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        EntryId next = kNoEntry;
        for (EntryId c : adapter.children(at))
            if (adapter.name(c) == part && (next == kNoEntry || (adapter.isFolder(c) && !adapter.isFolder(next)))) next = c;
        at = next;
    }
    return at;
}

int runRecover(RecoverOptions& o) {
    auto v = scanVolume(o.volume);
    if (!v) return kExitFailure;
    if (v->listedCandidatesOnly) return o.volume.image.hadWarnings ? kExitFailure : kExitOk;
    EntryId target = resolve(*v->adapter, o.path);
    if (target == kNoEntry) {
        printError("no entry " + o.path + " in the recovered tree");
        return kExitFailure;
    }
    SaveWalk walk(*v->adapter, *v->observer);
    walk.askFirst = false;
    walk.liveOnly = o.liveOnly;
    v->observer->setControl(&walk.control());
    SaveOutcome out = v->adapter->isFolder(target) ? walk.saveFolder(target, o.out) : walk.saveFile(target, o.out);
    std::printf("saved %lld files, %lld failed", static_cast<long long>(out.saved), static_cast<long long>(out.failed));
    if (out.skipped) std::printf(", %lld skipped", static_cast<long long>(out.skipped));
    if (out.renamed) std::printf(", %lld saved under safe names", static_cast<long long>(out.renamed));
    std::printf("\n");
    for (const auto& f : out.failures) printError("failed: " + f);
    if (out.stopped) printError("stopped; the files saved so far stay");
    return (out.failed > 0 || out.stopped || o.volume.image.hadWarnings) ? kExitFailure : kExitOk;
}

}  // namespace

Runner addRecoverCommand(CLI::App& app) {
    auto o = std::make_shared<RecoverOptions>();
    auto* cmd = app.add_subcommand("recover", "Save a recovered folder (recursively) or file into a folder");
    o->volume.addTo(*cmd);
    cmd->add_option("--out", o->out, "Folder that receives the files")->required();
    cmd->add_option("--path", o->path, "Folder or file to save, \"/\"-separated from the volume root (default: all)");
    cmd->add_flag("--live-only", o->liveOnly, "Leave out deleted entries");
    return [o] { return runRecover(*o); };
}

}  // namespace ondrel::cli
