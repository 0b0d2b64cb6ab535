#include "diskimage/ReaderState.h"

namespace ondrel {

std::unique_ptr<readWriteInterface> g_reader;
std::uint64_t g_totalSectors = 0;
std::int32_t g_imageKind = 0;
std::uint64_t diskSizeOverride = 0;
std::uint64_t tableEntriesOverride = 0;

void resetReaderState() {
    g_reader.reset();
    g_totalSectors = 0;
    g_imageKind = 0;
    diskSizeOverride = 0;
    tableEntriesOverride = 0;
}

}  // namespace ondrel
