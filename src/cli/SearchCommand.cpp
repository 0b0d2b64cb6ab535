// ondrel-cli search: recovered files whose names match a regular expression.
#include "cli/Commands.h"
#include "cli/EntryLines.h"
#include "cli/VolumeOptions.h"
#include "results/Search.h"

#include <algorithm>

namespace ondrel::cli {

namespace {

struct SearchOptions {
    VolumeOptions volume;
    std::string pattern;
};

int runSearch(SearchOptions& o) {
    auto v = scanVolume(o.volume);
    if (!v) return kExitFailure;
    if (v->listedCandidatesOnly) return o.volume.image.hadWarnings ? kExitFailure : kExitOk;
    WorkControl control;
    v->observer->setControl(&control);
    SearchOutcome out = searchNames(*v->adapter, o.pattern, *v->observer, control);
    if (!out.validPattern) return kExitFailure;
    for (const auto& hit : out.hits) printEntry(*v->adapter, hit.entry, hit.names, o.volume.json);
    return o.volume.image.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addSearchCommand(CLI::App& app) {
    auto o = std::make_shared<SearchOptions>();
    auto* cmd = app.add_subcommand("search", "Find recovered files by name (ECMAScript regular expression, any case)");
    o->volume.addTo(*cmd);
    o->volume.image.addTrailing(*cmd, "REGEX", o->pattern, "Pattern matched anywhere in the name, e.g. \"jpg|png\"");
    return [o] { return runSearch(*o); };
}

}  // namespace ondrel::cli
