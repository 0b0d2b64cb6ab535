#include "carving/CarvingJob.h"

#include "carving/DefaultSignatures.h"

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
    if (!scanner_->buildMatchTable()) return fail(Failure::NothingToFind, "no signatures to look for");
    adapter_.reset();
    source_ = std::move(source);
    scanner_->setDiskOffset(diskOffset);
    scanner_->scan(*source_, 0, source_->size(), observer, control);
    adapter_ = std::make_unique<CarvedAdapter>(*source_, scanner_);
    return true;
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
        if (control.stopRequested()) {
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
