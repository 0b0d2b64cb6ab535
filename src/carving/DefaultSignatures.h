#pragma once
// The definitions Ondrel ships in "FileSetting.txt" beside its executables.
#include "carving/SignatureRecord.h"

#include <string>
#include <vector>

namespace ondrel {

std::vector<SignatureRecord> defaultSignatures();

// Writes the default definitions as a settings file (replacing it).
bool writeDefaultSettings(const std::string& path);

// "FileSetting.txt" in the folder of the running executable.
std::string defaultSettingsPath();

}  // namespace ondrel
