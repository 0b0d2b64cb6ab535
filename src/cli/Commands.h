#pragma once
// The subcommands of ondrel-cli. Each registers itself on the app and returns
// the function that runs it once the arguments are parsed.
#include <CLI/CLI.hpp>
#include <functional>

namespace ondrel::cli {

using Runner = std::function<int()>;

Runner addInfoCommand(CLI::App& app);
Runner addVolumesCommand(CLI::App& app);
Runner addExportCommand(CLI::App& app);
Runner addLsCommand(CLI::App& app);
Runner addRecoverCommand(CLI::App& app);
Runner addSearchCommand(CLI::App& app);
Runner addCarveCommand(CLI::App& app);
Runner addSignaturesCommand(CLI::App& app);

}  // namespace ondrel::cli
