#pragma once
namespace ondrel {
// Caption of every message box and the window title.
inline constexpr const char* kProductCaption = "Ondrel v22.0";
}  // namespace ondrel
