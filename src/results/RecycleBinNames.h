#pragma once
// Windows keeps a deleted file in the recycle bin as a pair: "$R<id>.ext" holds
// the data, "$I<id>.ext" records the path it had. After a scan the "$R" entries
// take the names from their "$I" records.
#include "fs/FileSystemAdapter.h"

#include <optional>
#include <string>
#include <vector>

namespace ondrel {

// The original full path of a "$I" record (version 1: the path at byte 24;
// version 2: its length at 24 and the path at 28), as UTF-8.
std::optional<std::string> parseRecycleBinInfo(const std::vector<std::uint8_t>& record);

// Renames the "$R" entries of every top-level "$RECYCLE.BIN" or "$RECYCLEBIN"
// folder; returns the number renamed.
int nameRecycleBinEntries(FileSystemAdapter& adapter);

}  // namespace ondrel
