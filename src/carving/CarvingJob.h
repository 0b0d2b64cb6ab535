#pragma once
// One signature recovery, as both front ends run it: the definitions (the
// default set and the user's settings files), the scan of a volume's bytes,
// the finds as a results tree, and saving them. Failures come back once, as a
// kind the front end words and a message.
#include "carving/CarvedAdapter.h"
#include "carving/myJpg.h"
#include "results/SaveWalk.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ondrel {

class CarvingJob {
public:
    enum class Failure { None, Definitions, NothingToFind, EmptyVolume, NoFreeSpaceMap };

    // Starts the definitions afresh: the default set (defaultFile, or the
    // built-in set when it cannot be read) when withDefaults, else none.
    void resetDefinitions(bool withDefaults, const std::string& defaultFile);
    // Adds a settings file's definitions after those already there; false with
    // the file's message when it cannot be loaded.
    bool addDefinitions(const std::string& file);
    // resetDefinitions, then each file in turn (message() then names the file that failed).
    bool loadDefinitions(bool withDefaults, const std::string& defaultFile, const std::vector<std::string>& files);
    // Scans every byte of source for the definitions loaded; a stop keeps the
    // finds so far. False when there is nothing to look for or nothing to scan.
    // diskOffset is where source starts on the disk (finds are named by their
    // place on the disk).
    bool scan(std::shared_ptr<const ByteSource> source, ScanObserver& observer, WorkControl& control,
              std::int64_t diskOffset = 0);
    // Scans only what the volume's file system marks free, read as one run
    // (so live files are not found again, and a deleted file written around
    // a live one is read without it); finds are named by where their first
    // byte lies on the disk. False with NoFreeSpaceMap and the reason when the
    // file system is not known or cannot tell its free space.
    bool scanFreeSpace(const VolumeRecord& volume, ScanObserver& observer, WorkControl& control, std::int64_t diskOffset);
    // The file system whose free space scanFreeSpace would carve on the
    // volume: the one it is listed with, else the one its first sectors show;
    // "" when there is none.
    static std::string freeSpaceFileSystem(const VolumeRecord& volume);
    // The free space the last scanFreeSpace carved, in bytes.
    std::int64_t freeBytes() const { return freeBytes_; }

    // A find as a front end shows it while the scan runs.
    struct LiveFind {
        std::string category, name;
    };
    // Keeps each find for takeLiveFinds() while scans run (off by default:
    // a front end that shows finds only at the end needs no copy of them).
    void collectLiveFinds(bool on) { collectLive_ = on; }
    // The finds made since the last call; safe from any thread while scan() runs.
    std::vector<LiveFind> takeLiveFinds();

    // After a scan: the stretches it could not read, said once ("" when none).
    std::string unreadableSummary() const;

    Failure failure() const { return failure_; }
    const std::string& message() const { return message_; }
    bool hasDefinitions() const { return scanner_ && !scanner_->signatures().empty(); }

    const myJpg& scanner() const { return *scanner_; }
    // The finds of the last scan as a results tree; null before one.
    CarvedAdapter* finds() { return adapter_.get(); }
    const CarvedAdapter* finds() const { return adapter_.get(); }

    // Saves the given finds (or all of them when entries is empty) into folder.
    SaveOutcome save(const std::vector<EntryId>& entries, const std::string& folder, ScanObserver& observer,
                     WorkControl& control);

private:
    bool scanSource(std::shared_ptr<const ByteSource> source, ScanObserver& observer, WorkControl& control,
                    std::int64_t diskOffset, std::function<std::int64_t(std::int64_t)> placement);
    bool fail(Failure kind, std::string message) {
        failure_ = kind;
        message_ = std::move(message);
        return false;
    }

    std::shared_ptr<myJpg> scanner_ = std::make_shared<myJpg>();
    std::shared_ptr<const ByteSource> source_;
    std::unique_ptr<CarvedAdapter> adapter_;
    Failure failure_ = Failure::None;
    std::string message_;
    std::int64_t freeBytes_ = 0;
    bool collectLive_ = false;
    std::mutex liveMutex_;
    std::vector<LiveFind> live_;
};

}  // namespace ondrel
