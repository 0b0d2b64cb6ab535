#pragma once
// One recovered entry as ls and search print it: a tab-separated line or a
// JSON object.
#include "fs/FileSystemAdapter.h"

#include <string>

namespace ondrel::cli {

// Control characters as \n, \t, \r or \xHH and a backslash as \\: a name cannot
// end or split a line, and the text still reads back unambiguously.
std::string escapeControls(const std::string& text);

// Text lines escape control characters; JSON keeps names as they are.
void printEntry(const FileSystemAdapter& adapter, EntryId entry, const std::string& path, bool json);

}  // namespace ondrel::cli
