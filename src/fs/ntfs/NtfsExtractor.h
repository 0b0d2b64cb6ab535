#pragma once
// Writes one entry's data: resident data from the fixed-up record, plain runs
// in large reads (sparse runs as zeros), compressed data one compression unit
// at a time, and data spread over extension records through the attribute list.
#include "fs/ntfs/ntfs.h"
#include "fs/DataSink.h"
#include "fs/FileSystemAdapter.h"

#include <cstddef>
#include <cstdint>

namespace ondrel {

class NtfsExtractor {
public:
    explicit NtfsExtractor(ntfs& parser) : parser_(parser) {}

    // Written when every byte came out; ReadFailed when some could not be
    // read (they are written as zeros); NotAFile for a record that is not one.
    WriteResult extract(std::int64_t index, DataSink& sink);

private:
    struct Extent {
        std::int64_t startVcn = 0;
        std::vector<NtfsRun> runs;
    };
    struct Mapping {  // one run placed at its VCN
        std::int64_t vcn = 0;
        NtfsRun run;
    };

    WriteResult writePlain(const std::vector<Mapping>& map, std::uint64_t realSize, std::uint64_t initialized,
                           DataSink& sink);
    WriteResult writeCompressed(const std::vector<Mapping>& map, std::uint64_t realSize, unsigned unitClusters,
                                DataSink& sink);
    // LCN of a VCN, -1 when sparse or beyond the runs.
    static std::int64_t lcnAt(const std::vector<Mapping>& map, std::int64_t vcn, std::size_t& hint);
    bool readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out);
    void collectExtents(const NtfsRecord& base, std::vector<NtfsAttribute>& primary, std::vector<Extent>& extents);

    ntfs& parser_;
    bool readErrors_ = false;
};

}  // namespace ondrel
