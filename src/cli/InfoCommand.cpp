// ondrel-cli info: what the image page shows about an image.
#include "cli/Commands.h"
#include "cli/ImageOptions.h"

#include <cstdio>
#include <memory>

namespace ondrel::cli {

namespace {

void line(const char* label, const std::string& value) { std::printf("%-24s%s\n", label, value.c_str()); }

int runInfo(ImageOptions& options) {
    ImageKind kind{};
    auto reader = options.open(kind);
    if (!reader) return kExitFailure;

    line("Image:", options.image);
    line("Container:", imageKindName(kind));
    line("Sectors:", std::to_string(reader->sectorCount()));
    line("Size of HDD:", std::to_string(reader->sectorCount() * 512 / 1048576) + " MB");
    line("File length:", std::to_string(reader->fileLength) + " bytes");
    line("Virtual size:", std::to_string(reader->sectorCount() * 512) + " bytes");
    std::vector<ImageLayer> chain = reader->layers();
    std::int64_t allocated = 0;
    for (const ImageLayer& l : chain) allocated += l.fileBytes;
    line("Allocated size:", std::to_string(chain.empty() ? reader->fileLength : allocated) + " bytes (all files)");
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const ImageLayer& l = chain[i];
        std::string text = l.path + " (" + l.kind + ", " + std::to_string(l.fileBytes) + " bytes)";
        if (!l.parent.empty()) text += ", names parent \"" + l.parent + "\"";
        line(i == 0 ? "Chain:" : "", text);
    }

    ReaderDetails d = reader->details();
    line("File Format Version:", d.version);
    line("Sector per track:", d.sectorsPerTrack);
    line("Head:", d.heads);
    line("Cylinder:", d.cylinders);
    for (const auto& [label, value] : d.facts) line(label.c_str(), value);
    return options.hadWarnings ? kExitFailure : kExitOk;
}

}  // namespace
Runner addInfoCommand(CLI::App& app) {
    auto options = std::make_shared<ImageOptions>();
    auto* cmd = app.add_subcommand("info", "Show the container kind, size and geometry of an image");
    options->addTo(*cmd, true);
    return [options] { return runInfo(*options); };
}

}  // namespace ondrel::cli
