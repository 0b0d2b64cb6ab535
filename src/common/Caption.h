#pragma once
#include "common/Version.h"

namespace ondrel {
// Caption of every message box and the window title.
inline constexpr const char* kProductCaption = "Ondrel v" ONDREL_VERSION;
}  // namespace ondrel
