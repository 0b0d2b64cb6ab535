#pragma once
// A plain image cut into parts (disk.001, disk.002, ... or disk.aa, disk.ab,
// ...), read as one disk when the first part is opened.
#include "diskimage/BlockMappedReader.h"

#include <string>
#include <vector>

namespace ondrel {

// The parts of the split image whose first part is path, in order: path
// itself, then each next name while it exists. Only a name ending in a number
// of 0 or 1 (".000", ".001") or in letters "a" ("aa", ".aaa") starts a split image;
// for any other name the list holds path alone.
std::vector<std::string> splitImageParts(const std::string& path);

class SplitRawReader : public BlockMappedReader {
public:
    using readWriteInterface::open;
    bool open(const std::string& path, const OpenOptions& options) override;
    const ReadOnlyFile* imageFile() const override { return parts_.empty() ? &file_ : &parts_.front(); }
    std::vector<ImageLayer> layers() const override;

    std::size_t partCount() const { return parts_.size(); }

protected:
    Mapping mapAt(std::uint64_t virtualOffset) const override;
    std::string layerKind() const override { return "split raw"; }

private:
    std::vector<ReadOnlyFile> parts_;
    std::vector<std::string> names_;
    std::vector<std::uint64_t> starts_;  // disk offset of each part, then the total
};

}  // namespace ondrel
