// ondrel-cli export: the whole virtual disk as a plain image file.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"
#include "volumes/DiskExport.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace ondrel::cli {

namespace {

struct ExportOptions {
    ImageOptions image;
    std::string folder;
    bool progress = false;
};

int runExport(ExportOptions& o) {
    ImageKind kind{};
    auto reader = o.image.open(kind);
    if (!reader) return kExitFailure;
    WorkControl control;
    TerminalObserver observer(o.image.verbose, o.progress || isatty(STDERR_FILENO), &control);
    std::string output = exportOutputPath(o.image.image, o.folder);
    DiskExport exporter(*reader, observer, control);
    ExportOutcome outcome = exporter.run(output);
    if (outcome.stopped) {
        printError("export stopped; " + output + " holds the first " + std::to_string(outcome.bytesWritten / 1048576) +
                   " MB");
        return kExitFailure;
    }
    if (!outcome.ok) {
        if (outcome.message.rfind("Exit with error number", 0) == 0) printError(outcome.message);
        return kExitFailure;
    }
    std::printf("%s\n", output.c_str());
    return o.image.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addExportCommand(CLI::App& app) {
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export", "Write the whole virtual disk into OUTPUT_FOLDER as a plain image");
    o->image.addTo(*cmd, true);
    cmd->add_option("OUTPUT_FOLDER", o->folder, "Folder that receives the image")->required()->check(CLI::ExistingDirectory);
    cmd->add_flag("--progress", o->progress, "Show progress on stderr even when it is not a terminal");
    return [o] { return runExport(*o); };
}

}  // namespace ondrel::cli
