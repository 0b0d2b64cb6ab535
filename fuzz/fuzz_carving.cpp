// Signature recovery: the first byte gives how many 177-byte definition
// records follow (besides the default ones); the rest is the disk scanned, and
// every find is read back.
#include "carving/CarvedAdapter.h"
#include "carving/DefaultSignatures.h"
#include "diskimage/MemoryReader.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t records = std::min<std::size_t>(data[0] % 8, (size - 1) / ondrel::kSignatureRecordSize);
    auto scanner = std::make_shared<ondrel::myJpg>();
    scanner->addSignatures(ondrel::defaultSignatures());
    std::vector<ondrel::SignatureRecord> own;
    for (std::size_t i = 0; i < records; ++i)
        own.push_back(ondrel::SignatureRecord::decode(data + 1 + i * ondrel::kSignatureRecordSize));
    scanner->addSignatures(own);
    const std::size_t at = 1 + records * ondrel::kSignatureRecordSize;
    ondrel::MemoryReader reader(data + at, size - at);
    if (!scanner->buildMatchTable()) return 0;
    ondrel::WorkControl control;
    scanner->scan(reader, 0, static_cast<std::int64_t>(reader.sectorCount() * 512), ondrel::silentObserver(), control);
    ondrel::CarvedAdapter adapter(reader, scanner);
    std::vector<std::uint8_t> out;
    for (ondrel::EntryId c : adapter.children(adapter.rootEntry()))
        for (ondrel::EntryId f : adapter.children(c)) {
            (void)adapter.name(f);
            adapter.readContent(f, out, 1 << 16);
        }
    return 0;
}
