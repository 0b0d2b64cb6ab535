#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/NtfsRunList.h"
#include "unit/TestSupport.h"

#include <cstring>

#include <gtest/gtest.h>
#include <random>

namespace ondrel::test {

TEST(NtfsRunListTest, OffsetsAreSignedAndRelative) {
    // 0x11: 1-byte length 0x30 at +0x20; 0x31: 3-byte offset 0xFFFFF0 (-16); 0x01: sparse.
    ByteVector runs{0x11, 0x30, 0x20, 0x31, 0x10, 0xF0, 0xFF, 0xFF, 0x01, 0x08, 0x21, 0x04, 0x00, 0x01, 0x00};
    auto r = decodeRunList(runs, 0);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].startCluster, 0x20);
    EXPECT_EQ(r[0].length, 0x30u);
    EXPECT_EQ(r[1].startCluster, 0x20 - 16) << "a 3-byte negative offset moves backwards";
    EXPECT_TRUE(r[2].sparse);
    EXPECT_EQ(r[2].startCluster, 0);
    EXPECT_EQ(r[3].startCluster, 0x10 + 0x100) << "sparse runs do not move the position";
    // The bound of the attribute's VCN range drops runs beyond it.
    EXPECT_EQ(decodeRunList(runs, 0x30 + 0x10).size(), 2u);
}

TEST(NtfsRunListTest, DamagedListsEndSafely) {
    EXPECT_TRUE(decodeRunList(ByteVector{0x48, 1, 2}, 0).empty()) << "header promises bytes that are not there";
    EXPECT_TRUE(decodeRunList(ByteVector{0x11, 0x05, 0x80}, 0).empty()) << "a run before cluster 0";
    auto wide = decodeRunList(ByteVector{0x88, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].length, 0x100000001ull) << "64-bit lengths";
    std::mt19937 gen(3);
    for (int i = 0; i < 2000; ++i) {
        ByteVector junk(gen() % 64);
        for (auto& b : junk) b = static_cast<std::uint8_t>(gen());
        for (const auto& run : decodeRunList(junk, 0)) EXPECT_GE(run.startCluster, 0);
    }
}

TEST(NtfsRecordTest, FixupsRestoreTheLastWordOfEverySector) {
    ByteVector raw(1024, 0);
    std::memcpy(raw.data(), "FILE", 4);
    putLe(raw, 4, 48, 2);   // update sequence at 48
    putLe(raw, 6, 3, 2);    // check word + two sectors
    putLe(raw, 48, 0xABCD, 2);
    putLe(raw, 50, 0x1122, 2);
    putLe(raw, 52, 0x3344, 2);
    putLe(raw, 510, 0xABCD, 2);
    putLe(raw, 1022, 0xABCD, 2);
    putLe(raw, 20, 56, 2);
    putLe(raw, 56, 0xFFFFFFFF, 4);
    NtfsRecord rec{Bytes(raw)};
    EXPECT_EQ(le16(rec.bytes(), 510), 0x1122);
    EXPECT_EQ(le16(rec.bytes(), 1022), 0x3344);
    EXPECT_EQ(le16(Bytes(raw), 510), 0xABCD) << "the read buffer stays as read";
    EXPECT_TRUE(rec.attributes().empty());
}

TEST(NtfsRecordTest, AttributeWalkStopsAtDamage) {
    ByteVector raw(1024, 0);
    std::memcpy(raw.data(), "FILE", 4);
    putLe(raw, 20, 56, 2);
    putLe(raw, 56, 0x10, 4);
    putLe(raw, 60, 0x60, 4);
    putLe(raw, 56 + 16, 0x48, 4);   // content length
    putLe(raw, 56 + 20, 0x18, 2);   // content offset
    putLe(raw, 152, 0x30, 4);
    putLe(raw, 156, 5000, 4);       // runs past the record
    NtfsRecord rec{Bytes(raw)};
    auto attrs = rec.attributes();
    ASSERT_EQ(attrs.size(), 1u);
    EXPECT_EQ(rec.content(attrs[0]).size(), 0x48u);
    attrs[0].contentLength = 100000;
    EXPECT_LE(rec.content(attrs[0]).size(), 1024u) << "contents are cut at the record's end";
    EXPECT_TRUE(NtfsRecord::plausibleHeader(Bytes(raw)));
    putLe(raw, 20, 600, 2);
    EXPECT_FALSE(NtfsRecord::plausibleHeader(Bytes(raw)));
}

TEST(NtfsRecordTest, NamesAreUtf16) {
    ByteVector name{'a', 0, 0xFC, 0, 0x3D, 0xD8, 0x42, 0xDE, 0x00, 0xD8};  // a, ü, U+1F642, lone surrogate
    EXPECT_EQ(utf16leToUtf8(name, 0, 5), "a\xC3\xBC\xF0\x9F\x99\x82\xEF\xBF\xBD");
}

TEST(Lznt1Test, LiteralsBackReferencesAndStoredChunks) {
    // A compressed chunk: eight literals.
    ByteVector lit{0x08, 0xB0, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    std::vector<std::uint8_t> out(4096);
    bool ok = false;
    EXPECT_EQ(lznt1Decompress(lit.data(), lit.size(), out.data(), out.size(), ok), 8u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 8), "abcdefgh");
    // Three literals, then copy six bytes from three back.
    ByteVector ref{0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20};
    EXPECT_EQ(lznt1Decompress(ref.data(), ref.size(), out.data(), out.size(), ok), 9u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 9), "abcabcabc");
    // A stored chunk is copied as it is.
    ByteVector stored(2 + 4096, 'z');
    stored[0] = 0xFF;
    stored[1] = 0x3F;
    EXPECT_EQ(lznt1Decompress(stored.data(), stored.size(), out.data(), out.size(), ok), 4096u);
    EXPECT_TRUE(ok);
    // Output is bounded by the capacity.
    EXPECT_EQ(lznt1Decompress(ref.data(), ref.size(), out.data(), 5, ok), 5u);
    EXPECT_FALSE(ok);
}

TEST(Lznt1Test, GarbageNeverOverrunsTheBuffers) {
    std::mt19937 gen(9);
    std::vector<std::uint8_t> out(65536);
    for (int i = 0; i < 3000; ++i) {
        ByteVector junk(1 + gen() % 9000);
        for (auto& b : junk) b = static_cast<std::uint8_t>(gen());
        bool ok = true;
        EXPECT_LE(lznt1Decompress(junk.data(), junk.size(), out.data(), out.size(), ok), out.size());
    }
}

}  // namespace ondrel::test
