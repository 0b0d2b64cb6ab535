#pragma once
// The one table of file systems. Front ends and the results layer ask it
// (names, modes, parsers) instead of knowing any file system themselves.
#include "fs/FileSystemEntry.h"

#include <string_view>

namespace ondrel {

// Every known file system, in the order "Treat file system as:" lists them.
const std::vector<const FileSystemEntry*>& fileSystems();

const FileSystemEntry& fileSystem(FileSystemKind kind);
// By any of its names, without regard to case or surrounding blanks; null when unknown.
const FileSystemEntry* findFileSystem(std::string_view name);

// The parser for a volume, chosen by its file-system name, reading the volume's
// own source; null when no parser reads that file system ("not a valid drive.")
// or the record has no source.
std::unique_ptr<FileSystemAdapter> createAdapter(const VolumeRecord& volume);
// The same over source, which starts at the volume (the caller keeps it alive).
std::unique_ptr<FileSystemAdapter> createAdapter(const ByteSource& source, const VolumeRecord& volume);

// Every file system's probes, boot sectors first and in precedence order: what
// volume discovery recognises volumes by.
std::vector<FileSystemProbe> fileSystemProbes();

}  // namespace ondrel
