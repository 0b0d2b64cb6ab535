#include "carving/CarvingJob.h"

#include "carving/DefaultSignatures.h"
#include "fs/FileSystemRegistry.h"
#include "volumes/FileSystemProbe.h"

namespace ondrel {

void CarvingJob::resetDefinitions(bool withDefaults, const std::string& defaultFile) {
    failure_ = Failure::None;
    scanner_ = std::make_shared<myJpg>();
    adapter_.reset();
    std::string message;
    // Without the file beside the program, its built-in definitions.
    if (withDefaults && !scanner_->loadSettings(defaultFile, message)) scanner_->addSignatures(defaultSignatures());
}

bool CarvingJob::addDefinitions(const std::string& file) {
    std::string message;
    if (!scanner_->loadSettings(file, message)) return fail(Failure::Definitions, message);
    return true;
}

bool CarvingJob::loadDefinitions(bool withDefaults, const std::string& defaultFile, const std::vector<std::string>& files) {
    resetDefinitions(withDefaults, defaultFile);
    for (const std::string& file : files)
        if (!addDefinitions(file)) return fail(Failure::Definitions, file + ": " + message_);
    return true;
}

bool CarvingJob::scan(std::shared_ptr<const ByteSource> source, ScanObserver& observer, WorkControl& control,
                      std::int64_t diskOffset) {
    failure_ = Failure::None;
    if (!source || source->size() <= 0) return fail(Failure::EmptyVolume, "zero size volume..");
    return scanSource(std::move(source), observer, control, diskOffset, nullptr);
}

std::string CarvingJob::freeSpaceFileSystem(const VolumeRecord& volume) {
    if (const FileSystemEntry* e = findFileSystem(volume.fileSystem)) return e->treatAsName;
    if (!volume.source) return {};
    for (const FileSystemClaim& c : claimsOnVolume(*volume.source, 0, fileSystemProbes()))
        if (c.probe->listed)
            if (const FileSystemEntry* e = findFileSystem(c.probe->name)) return e->treatAsName;
    return {};
}

bool CarvingJob::scanFreeSpace(const VolumeRecord& volume, ScanObserver& observer, WorkControl& control,
                               std::int64_t diskOffset) {
    failure_ = Failure::None;
    freeBytes_ = 0;
    if (!volume.source || volume.source->size() <= 0) return fail(Failure::EmptyVolume, "zero size volume..");
    VolumeRecord known = volume;
    known.fileSystem = freeSpaceFileSystem(volume);
    auto adapter = known.fileSystem.empty() ? nullptr : createAdapter(known);
    if (!adapter)
        return fail(Failure::NoFreeSpaceMap,
                    "No file system whose free space can be read was found on this volume; carve the whole volume instead.");
    std::vector<ByteRun> runs;
    std::string reason;
    observer.status("Reading the free-space map.....");
    if (!adapter->freeSpace(runs, observer, control, reason))
        return fail(Failure::NoFreeSpaceMap, "The free space of this " + adapter->fileSystemName() + " volume cannot be read (" +
                                                 reason + "); carve the whole volume instead.");
    auto free = std::make_shared<const ByteRunsSource>(volume.source, std::move(runs));
    freeBytes_ = free->size();
    if (free->size() <= 0) return fail(Failure::EmptyVolume, "The file system marks no space of this volume free: nothing to carve.");
    const ByteRunsSource* runsSource = free.get();
    return scanSource(free, observer, control, diskOffset,
                      [runsSource, diskOffset](std::int64_t p) { return diskOffset + runsSource->parentOffset(p); });
}

bool CarvingJob::scanSource(std::shared_ptr<const ByteSource> source, ScanObserver& observer, WorkControl& control,
                            std::int64_t diskOffset, std::function<std::int64_t(std::int64_t)> placement) {
    if (!scanner_->buildMatchTable()) return fail(Failure::NothingToFind, "no signatures to look for");
    adapter_.reset();
    source_ = std::move(source);
    scanner_->setDiskOffset(diskOffset);
    scanner_->setPlacement(std::move(placement));
    {
        std::lock_guard lock(liveMutex_);
        live_.clear();
    }
    if (collectLive_) {
        const myJpg* scanner = scanner_.get();
        scanner_->onFind([this, scanner](const CarvedFile& f) {
            LiveFind live{scanner->signatures()[f.entry].category, scanner->fileName(f)};
            std::lock_guard lock(liveMutex_);
            live_.push_back(std::move(live));
        });
    } else {
        scanner_->onFind(nullptr);
    }
    scanner_->scan(*source_, 0, source_->size(), observer, control);
    scanner_->onFind(nullptr);
    adapter_ = std::make_unique<CarvedAdapter>(*source_, scanner_);
    return true;
}

std::vector<CarvingJob::LiveFind> CarvingJob::takeLiveFinds() {
    std::lock_guard lock(liveMutex_);
    std::vector<LiveFind> out;
    out.swap(live_);
    return out;
}

std::string CarvingJob::unreadableSummary() const {
    if (!scanner_ || scanner_->unreadable().empty()) return {};
    std::int64_t bytes = 0, finds = 0;
    for (const auto& s : scanner_->unreadable()) bytes += s.length;
    for (const CarvedFile& f : scanner_->files()) finds += f.unreadable ? 1 : 0;
    const auto& first = scanner_->unreadable().front();
    return std::to_string(scanner_->unreadable().size()) + " stretch(es) of the scanned range could not be read (" +
           std::to_string(bytes) + " bytes, the first at byte " + std::to_string(scanner_->onDisk(first.offset)) +
           " of the disk); they were read as zeros, and the " + std::to_string(finds) +
           " find(s) that overlap them are marked failed.";
}

SaveOutcome CarvingJob::save(const std::vector<EntryId>& entries, const std::string& folder, ScanObserver& observer,
                             WorkControl& control) {
    SaveOutcome total;
    if (!adapter_) return total;
    SaveWalk walk(*adapter_, observer);
    walk.askFirst = false;
    walk.obey(control);
    if (entries.empty()) return walk.saveFolder(adapter_->rootEntry(), folder);
    for (EntryId e : entries) {
        // Blocks while paused, so Pause holds a save between two files.
        if (control.poll()) {
            total.stopped = true;
            break;
        }
        SaveOutcome o = walk.saveFile(e, folder);
        total.saved += o.saved;
        total.failed += o.failed;
        total.skipped += o.skipped;
        total.failures.insert(total.failures.end(), o.failures.begin(), o.failures.end());
    }
    return total;
}

}  // namespace ondrel
