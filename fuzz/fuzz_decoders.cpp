// The pure decoders, chosen by the first byte: NTFS run lists, LZNT1, MFT
// records, recycle-bin records, UTF-16 names, VHD, VDI and FAT headers.
#include "common/Utf16.h"
#include "diskimage/VdiFormat.h"
#include "diskimage/VhdFormat.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRunList.h"
#include "results/RecycleBinNames.h"
#include "fs/exfat/ExFatBootSector.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/fat/FatBootParameters.h"
#include "fs/fat/FatBootSector.h"
#include "fs/hfsplus/HfsStructures.h"
#include "fs/ntfs/NtfsBootSector.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    ondrel::Bytes b(data + 1, size - 1);
    switch (data[0] % 7) {
    case 0: (void)ondrel::decodeRunList(b, data[0] & 0x80 ? 0 : 1u << 20); break;
    case 1: {
        std::vector<std::uint8_t> out(65536);
        bool ok = true;
        (void)ondrel::lznt1Decompress(b.data(), b.size(), out.data(), out.size(), ok);
        break;
    }
    case 2: {
        ondrel::NtfsRecord record(b);
        if (record.isFile())
            for (const auto& a : record.attributes()) {
                (void)record.content(a);
                if (a.nonResident) (void)ondrel::decodeRunList(record.runList(a), 0);
            }
        break;
    }
    case 3: (void)ondrel::parseRecycleBinInfo(std::vector<std::uint8_t>(b.begin(), b.end())); break;
    case 4: (void)ondrel::utf16leToUtf8(b, 0, b.size() / 2, data[0] & 0x80); break;
    case 5:
        (void)ondrel::parseVhdFooter(b);
        (void)ondrel::parseVhdDynamicHeader(b);
        (void)ondrel::parseVdiHeader(b);
        break;
    default: {
        std::int64_t sizeBytes = 0;
        (void)ondrel::parseFatBootParameters(b);
        (void)ondrel::fatBootSectorType(b, sizeBytes);
        (void)ondrel::isNtfsBootSector(b, true, sizeBytes);
        (void)ondrel::isExfatBootSector(b, sizeBytes);
        (void)ondrel::isHfsPlusHeader(b, sizeBytes);
        (void)ondrel::isExtSuperblock(b, sizeBytes);
    }
    }
    return 0;
}
