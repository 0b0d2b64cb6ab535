#pragma once
// What the registry knows of one file system: the names it goes by, how its
// volumes are recognised, how its parser is made, and what the parser offers.
// Each file system defines its entry in its own folder.
#include "diskimage/ByteSource.h"
#include "fs/FileSystemAdapter.h"
#include "volumes/FileSystemProbe.h"
#include "volumes/VolumeRecord.h"

#include <memory>
#include <string>
#include <vector>

namespace ondrel {

struct FileSystemEntry {
    FileSystemKind kind;
    std::string listName;              // as the volume list shows it: "NTFS", "FAT64", "extX", ...
    std::string treatAsItem;           // the item of "Treat file system as:"
    std::string treatAsName;           // the volume's file-system name when treated as it
    std::string cliName;               // `--fs` of ondrel-cli
    std::vector<std::string> aliases;  // other names it is known by (without regard to case)
    // How its volumes are recognised (its boot-record or superblock test, defined
    // beside its parser); a folder may add probes for kinds it recognises but
    // does not read (FAT12).
    std::vector<FileSystemProbe> probes;
    // The parser over the volume's bytes (source starts at the volume); null
    // while no parser reads this file system.
    std::unique_ptr<FileSystemAdapter> (*create)(const ByteSource& source, const VolumeRecord& volume) = nullptr;
    std::vector<RecoveryMode> modes;   // the recovery modes offered
    bool formattedFlag = false;        // "Is Drive Formated..?" applies in the advanced mode
    bool announcesSavedFile = false;   // a single saved file is announced with its path
    std::string selectedStatus;        // the status line when a volume of it is opened ("" none)
    std::string candidateLabel;        // the advanced input's combo label ("" the default)

    bool offers(RecoveryMode mode) const {
        for (RecoveryMode m : modes)
            if (m == mode) return true;
        return false;
    }
    bool readable() const { return create != nullptr; }
};

}  // namespace ondrel
