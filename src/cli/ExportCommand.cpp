// ondrel-cli export: the whole virtual disk as a plain image file.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"
#include "cli/VolumeOptions.h"
#include "volumes/DiskExport.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace ondrel::cli {

namespace {

struct ExportOptions {
    ImageOptions image;
    std::string folder;
    bool progress = false;
    std::optional<int> volume;
    bool gpt = false, sweep = false;
};

int runExport(ExportOptions& o) {
    ImageKind kind{};
    auto reader = o.image.open(kind);
    if (!reader) return kExitFailure;
    if (!std::filesystem::is_directory(o.folder)) {
        printError("OUTPUT_FOLDER: directory does not exist: " + o.folder);
        return kExitUsage;
    }
    std::vector<std::shared_ptr<readWriteInterface>> further;
    if (!o.image.openFurther(further)) return kExitFailure;
    if (!further.empty() && !o.volume) {
        printError("several images are exported one at a time; with several, choose a volume with --volume N");
        return kExitUsage;
    }
    std::shared_ptr<const ByteSource> source = reader;
    std::string name = o.image.image;
    if (o.volume) {
        auto v = numberedVolume(disksOf(reader, further), *o.volume, o.gpt, o.sweep);
        if (!v) return kExitFailure;
        source = v->source;
        if (v->incomplete) printError("warning: volume " + v->volumeName + ": " + v->note);
        name += ".volume" + std::to_string(*o.volume);
    }
    WorkControl control;
    TerminalObserver observer(o.image.verbose, o.progress || isatty(STDERR_FILENO), &control);
    std::string output = exportOutputPath(name, o.folder);
    DiskExport exporter(*source, observer, control);
    ExportOutcome outcome = exporter.run(output);
    if (outcome.stopped) {
        printError("export stopped; " + output + " holds the first " + std::to_string(outcome.bytesWritten / 1048576) +
                   " MB");
        return kExitFailure;
    }
    if (outcome.unreadableBytes > 0) {
        // The image is written to its end; say where it holds zeros for lost data.
        for (const std::string& line : reader->damage().describe()) printError(line);
        std::printf("%s\n", output.c_str());
        return kExitFailure;
    }
    if (!outcome.ok) return kExitFailure;
    std::printf("%s\n", output.c_str());
    return o.image.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace

Runner addExportCommand(CLI::App& app) {
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export", "Write the whole virtual disk into OUTPUT_FOLDER as a plain image");
    o->image.addTo(*cmd, true);
    o->image.addTrailing(*cmd, "OUTPUT_FOLDER", o->folder, "Folder that receives the image");
    cmd->add_flag("--progress", o->progress, "Show progress on stderr even when it is not a terminal");
    cmd->add_option("--volume", o->volume, "Write only this volume (numbered as `ondrel-cli volumes` lists it)");
    cmd->add_flag("--gpt", o->gpt, "Number volumes from the GPT");
    cmd->add_flag("--sweep", o->sweep, "Number volumes as the sector sweep finds them");
    return [o] { return runExport(*o); };
}

}  // namespace ondrel::cli
