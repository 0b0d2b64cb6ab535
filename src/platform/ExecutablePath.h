#pragma once
// Where the running program lies, for the files shipped beside it.
#include <string>

namespace ondrel {

// The folder of the running executable; empty when it cannot be told.
std::string executableFolder();

}  // namespace ondrel
