// Every container reader is read from eight threads at once, at random offsets
// and lengths, through the disk and through volume windows, and must give
// byte for byte what one thread reading alone gets. The suite also runs under
// ThreadSanitizer (scripts/test.sh), which sees the races a comparison misses.
#include "diskimage/ImageKind.h"
#include "diskimage/MemoryReader.h"
#include "volumes/ByteWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

namespace ondrel {

namespace {

struct Read {
    std::int64_t offset = 0;
    std::size_t length = 0;
};

// Mostly small reads, some crossing cluster and block boundaries, a few large
// ones, and some that run past the end.
std::vector<Read> randomReads(std::int64_t size, std::uint32_t seed, int count) {
    std::mt19937_64 gen(seed);
    std::vector<Read> out;
    for (int i = 0; i < count; ++i) {
        Read r;
        std::uint64_t kind = gen() % 10;
        r.length = kind < 6 ? 1 + gen() % 4096 : kind < 9 ? 4096 + gen() % 65536 : 262144 + gen() % 262144;
        std::int64_t room = std::max<std::int64_t>(size, 1);
        r.offset = static_cast<std::int64_t>(gen() % static_cast<std::uint64_t>(room + 4096));
        // Near block boundaries, where runs change.
        if (gen() % 3 == 0) r.offset = r.offset / 65536 * 65536 - static_cast<std::int64_t>(gen() % 700);
        r.offset = std::max<std::int64_t>(r.offset, 0);
        out.push_back(r);
    }
    return out;
}

struct Result {
    bool ok = false;
    std::vector<std::uint8_t> bytes;
};

Result readOnce(const ByteSource& source, const Read& r) {
    Result out;
    out.bytes.assign(r.length, 0xA5);
    out.ok = source.readAt(r.offset, out.bytes.data(), r.length);
    return out;
}

// Reads the same list from eight threads (each in its own order) and checks
// every result against a single-threaded read.
void expectSameFromManyThreads(const ByteSource& source, const std::string& what, std::uint32_t seed) {
    constexpr int kThreads = 8, kReads = 32;
    std::vector<Read> reads = randomReads(source.size(), seed, kThreads * kReads);
    std::vector<Result> alone;
    alone.reserve(reads.size());
    for (const Read& r : reads) alone.push_back(readOnce(source, r));

    std::vector<std::vector<Result>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            // Every thread reads all of them, starting at a different place.
            got[static_cast<std::size_t>(t)].resize(reads.size());
            for (std::size_t k = 0; k < reads.size(); ++k) {
                std::size_t i = (k + static_cast<std::size_t>(t) * kReads) % reads.size();
                got[static_cast<std::size_t>(t)][i] = readOnce(source, reads[i]);
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t)
        for (std::size_t i = 0; i < reads.size(); ++i) {
            const Result& a = alone[i];
            const Result& b = got[static_cast<std::size_t>(t)][i];
            ASSERT_EQ(a.ok, b.ok) << what << ": read " << i << " at " << reads[i].offset << " (" << reads[i].length
                                  << " bytes), thread " << t;
            ASSERT_TRUE(a.bytes == b.bytes) << what << ": read " << i << " at " << reads[i].offset << " ("
                                            << reads[i].length << " bytes) differs on thread " << t;
        }
}

// The fixture containers, each opened as the command line opens it.
std::vector<std::string> containerFixtures() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(ONDREL_FIXTURE_DIR, ec)) {
        std::string path = e.path().string();
        ImageKind kind = detectImageKind(path);
        if (kind != ImageKind::Raw || e.path().filename() == "mbr-disk.raw") out.push_back(path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(ConcurrentReadTest, EveryContainerReadsTheSameFromEightThreads) {
    std::vector<std::string> images = containerFixtures();
    int opened = 0;
    std::uint32_t seed = 1;
    for (const std::string& path : images) {
        OpenedImage image = openDiskImage(path, std::nullopt);
        if (!image.reader) continue;  // a part that is not an image by itself
        ++opened;
        SCOPED_TRACE(path);
        expectSameFromManyThreads(*image.reader, path, seed++);
        // Volumes nest over the disk: windows read concurrently too, and
        // inside a window the reads end with it.
        std::shared_ptr<const ByteSource> disk(std::move(image.reader));
        auto volume = std::make_shared<ByteWindow>(disk, 1048576 + 512 * 3, disk->size() / 3 + 123);
        ByteWindow inner(volume, 65536 - 512, volume->size() / 2);
        expectSameFromManyThreads(inner, path + " (nested windows)", seed++);
    }
    EXPECT_GE(opened, 20) << "the container fixtures are missing";
}

TEST(ConcurrentReadTest, ExtentsAnswerTheSameFromManyThreads) {
    std::string path = std::string(ONDREL_FIXTURE_DIR) + "/mbr-chain-top.qcow2";
    OpenedImage image = openDiskImage(path, std::nullopt);
    if (!image.reader) GTEST_SKIP() << "no qcow2 chain fixture";
    const readWriteInterface& disk = *image.reader;
    std::vector<std::int64_t> offsets;
    for (std::int64_t at = 0; at < disk.size(); at += 40960 + 512) offsets.push_back(at);
    auto describe = [&](std::int64_t at) {
        std::optional<DiskExtent> e = disk.extentAt(at);
        return e ? std::make_tuple(static_cast<int>(e->kind), e->fileOffset, e->length, e->file)
                 : std::make_tuple(-1, std::int64_t(0), std::uint64_t(0), static_cast<const ReadOnlyFile*>(nullptr));
    };
    std::vector<decltype(describe(0))> alone;
    for (std::int64_t at : offsets) alone.push_back(describe(at));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < offsets.size(); ++i)
                if (describe(offsets[i]) != alone[i]) ++mismatches[static_cast<std::size_t>(t)];
        });
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(ConcurrentReadTest, ADiskInMemoryAndItsWindowsToo) {
    std::vector<std::uint8_t> bytes(3 << 20);
    std::mt19937 gen(5);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    auto disk = std::make_shared<MemoryReader>(bytes);
    expectSameFromManyThreads(*disk, "memory", 11);
    ByteWindow window(disk, 777 * 512, 1000 * 512 + 100);
    expectSameFromManyThreads(window, "memory window", 12);
}

}  // namespace ondrel
