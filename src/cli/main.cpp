// ondrel-cli: the scriptable front end over the recovery core.
#include "cli/Commands.h"
#include "common/Version.h"
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"

#include <exception>
#include <map>

int main(int argc, char** argv) {
    using namespace ondrel::cli;
    CLI::App app{"Ondrel: recover data from virtual hard-disk images (read-only)", "ondrel-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "ondrel-cli " ONDREL_VERSION);

    std::map<std::string, Runner> runners;
    runners["info"] = addInfoCommand(app);
    runners["volumes"] = addVolumesCommand(app);
    runners["export"] = addExportCommand(app);
    runners["ls"] = addLsCommand(app);
    runners["recover"] = addRecoverCommand(app);
    runners["search"] = addSearchCommand(app);
    runners["carve"] = addCarveCommand(app);
    runners["signatures"] = addSignaturesCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    installInterruptHandler();
    try {
        for (auto* sub : app.get_subcommands()) return runners.at(sub->get_name())();
    } catch (const std::exception& e) {
        printError(e.what());
        return kExitFailure;
    }
    return kExitUsage;
}
