#pragma once
// The definitions Ondrel ships in "FileSetting.txt", and where that file is
// looked for.
#include "carving/SignatureRecord.h"

#include <string>
#include <vector>

namespace ondrel {

std::vector<SignatureRecord> defaultSignatures();

// Writes the default definitions as a settings file (replacing it).
bool writeDefaultSettings(const std::string& path);

// The settings files looked for, in order: the user's data folder's, each
// system data folder's, the installation's, the one beside the program (a
// build that is not installed).
std::vector<std::string> settingsSearchPath();
// The first of them that exists; empty when none does (the built-in
// definitions stand in then).
std::string findSettingsFile();
// Where definitions the user adds go when no other file is chosen.
std::string userSettingsPath();
// Makes the user's settings file when it is missing, holding the definitions
// in use until then (so that it adds to them, not replaces them). False with
// a message when it cannot be written.
bool ensureUserSettings(std::string& message);

}  // namespace ondrel
