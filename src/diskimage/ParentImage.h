#pragma once
// Opening the parent of a differencing image (a qcow2 backing file, a VHD,
// VHDX or VDI parent, a VMDK parentFileNameHint) and guarding the chain
// against loops and runaway depth.
#include "diskimage/ImageKind.h"

#include <string>
#include <vector>

namespace ondrel {

inline constexpr int kMaxChainDepth = 64;

// Tries each name in turn: as given when absolute, relative to the child's
// folder, then its last component in the child's folder (chains are often
// moved together). Windows separators are understood. The parent is opened
// with its own size (the user's overrides apply to the child only); a missing
// file, a loop back into the chain or a chain deeper than kMaxChainDepth fails
// with a message naming the file looked for.
OpenedImage openParentImage(const std::string& childPath, const std::vector<std::string>& names,
                            std::optional<ImageKind> kind);
inline OpenedImage openParentImage(const std::string& childPath, const std::string& name, std::optional<ImageKind> kind) {
    return openParentImage(childPath, std::vector<std::string>{name}, kind);
}

// The folder part of path ("." when it has none).
std::string folderOfPath(const std::string& path);

}  // namespace ondrel
