// A fixed VHD (a raw disk whose footer gives its size) and container detection.
#include "diskimage/ImageKind.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ondrel::fuzz::MemoryFile file(data, size);
    (void)ondrel::detectImageKind(file.path());
    ondrel::OpenedImage image = ondrel::openDiskImage(file.path(), ondrel::ImageKind::FixedVhd);
    if (image.reader) ondrel::fuzz::sampleDisk(*image.reader);
    return 0;
}
