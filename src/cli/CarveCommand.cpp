// ondrel-cli carve: files found by their signatures on a volume or the whole
// disk, listed or saved; ondrel-cli signatures: the definitions looked for.
#include "carving/CarvingJob.h"
#include "carving/DefaultSignatures.h"
#include "cli/Commands.h"
#include "cli/EntryLines.h"
#include "cli/ImageOptions.h"
#include "cli/TerminalObserver.h"
#include "cli/VolumeOptions.h"
#include "results/SaveWalk.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace ondrel::cli {

namespace {

struct CarveOptions {
    ImageOptions image;
    std::optional<int> volume;
    std::optional<std::int64_t> startSector;
    std::optional<std::int64_t> sizeMb;
    std::optional<std::int64_t> endSector;
    bool gpt = false, sweep = false;
    std::vector<std::string> signatures;
    bool noDefault = false;
    std::string out;
    bool list = false, json = false;
    bool unallocated = false;
    std::string fs = "RAW";
};

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[8];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", out.empty() ? "" : ",", v);
        out += b;
    }
    return out;
}

int runCarve(CarveOptions& o) {
    CarvingJob job;
    if (!job.loadDefinitions(!o.noDefault, findSettingsFile(), o.signatures)) {
        printError(job.message());
        return kExitFailure;
    }
    if (!job.hasDefinitions()) {
        printError("no signatures to look for (--no-default without --signatures)");
        return kExitFailure;
    }
    ImageKind kind{};
    auto reader = o.image.open(kind);
    std::vector<std::shared_ptr<readWriteInterface>> further;
    if (!reader || !o.image.openFurther(further)) return kExitFailure;
    if (!further.empty() && !o.volume) {
        printError("with several images, choose the volume to carve with --volume N");
        return kExitUsage;
    }
    std::shared_ptr<const ByteSource> source = reader;
    std::int64_t diskOffset = 0;
    std::optional<VolumeRecord> volume;
    if (o.volume) {
        volume = numberedVolume(disksOf(reader, further), *o.volume, o.gpt, o.sweep);
        if (!volume) return kExitFailure;
    } else if (o.startSector) {
        volume = placedVolume(reader, o.fs, *o.startSector, o.sizeMb, o.endSector);
        if (!volume) return kExitFailure;
    }
    if (volume) {
        source = volume->source;
        diskOffset = volume->startSector * 512;
    }
    WorkControl control;
    TerminalObserver observer(o.image.verbose, true, &control);
    const bool scanned = o.unallocated ? job.scanFreeSpace(*volume, observer, control, diskOffset)
                                       : job.scan(source, observer, control, diskOffset);
    if (!scanned) {
        printError(job.failure() == CarvingJob::Failure::NothingToFind
                       ? "no signatures to look for (--no-default without --signatures)"
                       : job.message());
        return kExitFailure;
    }
    const bool stopped = control.stopRequested();
    control.reset();
    const myJpg& scanner = job.scanner();
    if (o.list) {
        for (const CarvedFile& f : scanner.files()) {
            const SignatureEntry& e = scanner.signatures()[f.entry];
            if (o.json) {
                nlohmann::json j{{"name", scanner.fileName(f)}, {"category", e.category}, {"offset", scanner.onDisk(f.offset)},
                                 {"size", f.size}, {"end", carveEndText(f.how)}};
                if (f.unreadable) j["unreadable"] = true;
                std::printf("%s\n", j.dump().c_str());
            } else {
                // Names come from the definitions: escaped as ls escapes, one find per line.
                // A find with bytes that could not be read says so in a sixth column.
                std::printf("%s\t%s\t%lld\t%lld\t%s%s\n", escapeControls(scanner.fileName(f)).c_str(),
                            escapeControls(e.category).c_str(), static_cast<long long>(scanner.onDisk(f.offset)),
                            static_cast<long long>(f.size), carveEndText(f.how), f.unreadable ? "\tunreadable" : "");
            }
        }
    }
    int status = stopped || o.image.hadWarnings ? kExitFailure : kExitOk;
    if (const std::string unreadable = job.unreadableSummary(); !unreadable.empty()) {
        printError(unreadable);
        status = kExitFailure;
    }
    if (!o.out.empty()) {
        SaveOutcome out = job.save({}, o.out, observer, control);
        std::printf("saved %lld files, %lld failed\n", static_cast<long long>(out.saved), static_cast<long long>(out.failed));
        for (const auto& f : out.failures) printError("failed: " + f);
        if (out.failed > 0 || out.stopped) status = kExitFailure;
    }
    if (o.unallocated)
        std::fprintf(stderr, "carved %lld bytes of free space\n", static_cast<long long>(job.freeBytes()));
    if (stopped) printError("stopped; what was found so far is listed");
    return status;
}

struct SignaturesOptions {
    std::string file;
    bool json = false;
    bool where = false;
};

int runSignatures(const SignaturesOptions& o) {
    std::vector<SignatureRecord> records;
    std::string message;
    if (o.where) {
        const std::string found = o.file.empty() ? findSettingsFile() : o.file;
        std::printf("%s\n", found.empty() ? "built-in" : found.c_str());
        return kExitOk;
    }
    if (o.file.empty()) {
        if (!loadSignatureRecords(findSettingsFile(), records, message)) records = defaultSignatures();
    } else if (!loadSignatureRecords(o.file, records, message)) {
        printError(o.file + ": " + message);
        return kExitFailure;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        SignatureEntry e = SignatureEntry::from(records[i]);
        if (o.json) {
            nlohmann::json j{{"index", i},           {"extension", e.extension},     {"category", e.category},
                             {"start", hex(e.start)}, {"start_offset", e.startOffset}, {"end", hex(e.end)},
                             {"size_offset", e.sizeOffset}, {"size_bytes", e.sizeBytes}, {"header_size", e.headerSize},
                             {"size_includes_header", e.sizeIncludesHeader}, {"cap", e.approximateSize},
                             {"skip", e.sizeToSkip}};
            std::printf("%s\n", j.dump().c_str());
        } else {
            std::printf("%zu\t%s\t%s\tstart %s @%u\tend %s\tsize %d/%d%s\tcap %lld\tskip %lld\n", i,
                        escapeControls(e.extension).c_str(), escapeControls(e.category).c_str(), hex(e.start).c_str(), e.startOffset, e.end.empty() ? "-" : hex(e.end).c_str(),
                        e.sizeOffset, e.sizeBytes, e.sizeIncludesHeader ? " incl. header" : "",
                        static_cast<long long>(e.approximateSize), static_cast<long long>(e.sizeToSkip));
        }
    }
    return kExitOk;
}

}  // namespace

Runner addCarveCommand(CLI::App& app) {
    auto o = std::make_shared<CarveOptions>();
    auto* cmd = app.add_subcommand("carve", "Find files by their signatures on a volume or the whole disk, and list or save them");
    o->image.addTo(*cmd, false);
    auto* vol = cmd->add_option("--volume", o->volume, "Volume number as `ondrel-cli volumes` lists it (default: the whole disk)");
    auto* start = cmd->add_option("--start-sector", o->startSector, "First sector to scan");
    auto* size = cmd->add_option("--size-mb", o->sizeMb, "MiB to scan (with --start-sector)")->needs(start);
    cmd->add_option("--end-sector", o->endSector, "Last sector to scan, inclusive (with --start-sector)")
        ->needs(start)
        ->excludes(size);
    vol->excludes(start);
    cmd->add_flag("--gpt", o->gpt, "Number volumes from the GPT");
    cmd->add_flag("--sweep", o->sweep, "Number volumes as the sector sweep finds them");
    cmd->add_option("--signatures", o->signatures, "Settings file of signature definitions (repeatable)");
    cmd->add_flag("--no-default", o->noDefault, "Leave out the default definitions (FileSetting.txt)");
    auto* fs = cmd->add_option("--fs", o->fs, "File system of the volume placed by --start-sector (for --unallocated)")->needs(start);
    auto* unallocated = cmd->add_flag("--unallocated", o->unallocated,
                                      "Carve only the clusters the volume's file system marks free (NTFS, FAT, exFAT, ext, HFS+), "
                                      "so live files are not found again");
    (void)fs;
    auto* out = cmd->add_option("--out", o->out, "Folder that receives the files found");
    auto* list = cmd->add_flag("--list", o->list,
                               "Print one find per line: name, category, offset, size, how it ended (structure, end "
                               "signature, size field, cap, no end, truncated), and \"unreadable\" when some of it could not be read");
    out->excludes(list);
    cmd->add_flag("--json", o->json, "JSON output, one object per line");
    cmd->callback([o, cmd, unallocated] {
        if (o->out.empty() && !o->list) throw CLI::RequiredError("--out or --list");
        if (o->unallocated && !o->volume && !o->startSector)
            throw CLI::ValidationError(unallocated->get_name(), "needs a volume: --volume N, or --start-sector with --fs");
        (void)cmd;
    });
    return [o] { return runCarve(*o); };
}

Runner addSignaturesCommand(CLI::App& app) {
    auto o = std::make_shared<SignaturesOptions>();
    auto* cmd = app.add_subcommand("signatures", "Print the built-in signature definitions or those of a settings file");
    cmd->add_option("FILE", o->file, "Settings file (default: the first FileSetting.txt found; see --where)");
    cmd->add_flag("--json", o->json, "JSON output, one object per line");
    cmd->add_flag("--where", o->where, "Print the path of the settings file in use (\"built-in\" when none is found), and nothing else");
    return [o] { return runSignatures(*o); };
}

}  // namespace ondrel::cli
