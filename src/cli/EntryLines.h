#pragma once
// One recovered entry as ls and search print it: a tab-separated line or a
// JSON object.
#include "fs/FileSystemAdapter.h"

#include <string>
#include <vector>

namespace ondrel::cli {

// Control characters as \n, \t, \r or \xHH and a backslash as \\: a name cannot
// end or split a line, and the text still reads back unambiguously.
std::string escapeControls(const std::string& text);

// A name as one path component of a text line: escaped as escapeControls does,
// "/" as \/ and a name "." or ".." as \. or \.., so a name shows no folder
// that is not there.
std::string escapeName(const std::string& name);

// names: the names from the top level down to the entry's own. Text lines
// escape each name; JSON keeps them as they are and gives the entry's own
// name as a field of its own.
void printEntry(const FileSystemAdapter& adapter, EntryId entry, const std::vector<std::string>& names, bool json);

}  // namespace ondrel::cli
