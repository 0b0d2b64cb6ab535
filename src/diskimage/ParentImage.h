#pragma once
// Opening the files an image names (a qcow2 backing file, a VHD, VHDX or VDI
// parent, a VMDK parentFileNameHint or extent), by rules that keep the host's
// other files out of reach: the file must resolve (links followed) inside the
// folder of the image that names it, or a folder below it, unless the user
// allowed it; it must be a regular file or a block device; and the chain must
// not loop or run deeper than kMaxChainDepth.
#include "diskimage/ImageFactory.h"

#include <string>
#include <vector>

namespace ondrel {

inline constexpr int kMaxChainDepth = 64;

struct ResolvedReference {
    std::string path;     // the file to open ("" when none may be opened)
    std::string message;  // why not, naming the reference and the rule
    std::string refused;  // a file that exists but lies outside the folder
};

// Tries each name in turn: as given when absolute, relative to the child's
// folder, then its last component in the child's folder (chains are often
// moved together). Windows separators are understood. what names the kind of
// reference for messages ("parent image", "VMDK extent").
ResolvedReference resolveReference(const std::string& childPath, const std::vector<std::string>& names,
                                   const OpenOptions& options, const std::string& what);

// Resolves the parent and opens it through options.factory with its own size
// (the user's corrections apply to the child only). A missing or refused file,
// a loop back into the chain or a chain deeper than kMaxChainDepth fails with a
// message naming the file looked for.
OpenedImage openParentImage(const std::string& childPath, const std::vector<std::string>& names,
                            std::optional<ImageKind> kind, const OpenOptions& options);

// The folder part of path ("." when it has none).
std::string folderOfPath(const std::string& path);

// The path with links and "." and ".." resolved as far as it exists.
std::string resolvedPath(const std::string& path);

}  // namespace ondrel
