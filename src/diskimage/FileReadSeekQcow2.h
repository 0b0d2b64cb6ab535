#pragma once
// A qcow2 image (versions 2 and 3): an L1 table of L2 tables mapping each
// cluster to data in the file, zeros, a compressed cluster (deflate or zstd)
// or nothing, in which case the backing file's bytes show through.
#include "diskimage/BlockMappedReader.h"
#include "diskimage/Inflater.h"
#include "diskimage/Qcow2Format.h"

#include <unordered_map>

namespace ondrel {

class FileReadSeekQcow2 : public BlockMappedReader {
public:
    bool open(const std::string& path) override;

    // The internal snapshot whose state open reads, by name or ID ("" for the
    // image's current state). The command line sets it for --snapshot.
    static std::string requestedSnapshot;

    Qcow2Header header;
    std::uint64_t clusterSize = 0;
    bool extendedL2 = false;
    std::string backingName;    // as the header names it
    std::string backingFormat;  // from the header extension ("" when not named)
    std::vector<Qcow2Snapshot> snapshots;
    std::string openedSnapshot;  // the snapshot read, "" for the current state

protected:
    Mapping mapAt(std::uint64_t virtualOffset) override;
    bool readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) override;
    std::string layerKind() const override { return "qcow2 v" + std::to_string(header.version); }

private:
    bool readExtensions(const std::vector<std::uint8_t>& first);
    void readSnapshots();
    bool loadL1(std::uint64_t offset, std::uint64_t entries);
    // The L2 table at offset (two words per entry when extended); empty when
    // it cannot be read.
    const std::vector<std::uint64_t>& l2Table(std::uint64_t offset);
    bool decodeCluster(std::uint64_t entry);

    std::vector<std::uint64_t> l1_;
    std::uint64_t l2Entries_ = 0;
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> l2Cache_;
    std::uint64_t decodedEntry_ = 0;  // the compressed entry held in decoded_
    std::vector<std::uint8_t> decoded_, packed_;
    void* zstdContext_ = nullptr;
    Inflater inflater_{Inflater::Wrapper::Raw};

public:
    ~FileReadSeekQcow2() override;
};

}  // namespace ondrel
