#pragma once
// One recovered entry as ls and search print it: a tab-separated line or a
// JSON object.
#include "fs/FileSystemAdapter.h"

#include <string>

namespace ondrel::cli {

void printEntry(const FileSystemAdapter& adapter, EntryId entry, const std::string& path, bool json);

}  // namespace ondrel::cli
