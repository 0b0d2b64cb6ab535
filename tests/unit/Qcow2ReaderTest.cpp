// qcow2 images written by qemu-img and qemu-io at test time: what the reader
// refuses (encryption), what it survives (tables cut off or pointing past the
// file, a damaged compressed cluster) and internal snapshots.
#include "diskimage/FileReadSeekQcow2.h"
#include "unit/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace ondrel::test {

namespace {
bool haveQemu() { return runCommand("command -v qemu-img >/dev/null && command -v qemu-io >/dev/null") == 0; }

class Qcow2ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveQemu()) GTEST_SKIP() << "qemu-img and qemu-io (qemu-utils) are not installed";
    }
    // A 4 MiB image with 64 KiB of 0x11 at 0 and of 0x22 at 1 MiB.
    std::string image(const std::string& name, const std::string& options = "") {
        std::string path = dir.file(name);
        std::string o = options.empty() ? "" : " -o " + options;
        EXPECT_EQ(runCommand("qemu-img create -q -f qcow2" + o + " " + test::quoted(path) + " 4M"), 0);
        EXPECT_EQ(runCommand("qemu-io -f qcow2 -c 'write -P 0x11 0 64k' -c 'write -P 0x22 1M 64k' " + test::quoted(path) + " >/dev/null"), 0);
        return path;
    }
    static std::uint8_t byteAt(readWriteInterface& r, std::int64_t offset) {
        std::uint8_t b = 0xEE;
        r.readAt(offset, &b, 1);
        return b;
    }
    TempDir dir;
};
}  // namespace

TEST_F(Qcow2ReaderTest, EncryptedImagesAreRefusedWithTheReason) {
    std::string path = dir.file("enc.qcow2");
    // qemu-img times its key derivation and gives up ("Unable to get accurate
    // CPU usage") when a busy machine measures no time: a few tries.
    ASSERT_EQ(runCommand("for i in 1 2 3; do qemu-img create -q -f qcow2 --object secret,id=s0,data=ondrel -o encrypt.format=luks,"
                         "encrypt.key-secret=s0,encrypt.iter-time=10 " +
                         test::quoted(path) + " 4M && exit 0; rm -f " + test::quoted(path) + "; done; exit 1"),
              0);
    FileReadSeekQcow2 reader;
    EXPECT_FALSE(reader.open(path));
    EXPECT_NE(reader.lastMessage().find("encrypted (LUKS)"), std::string::npos) << reader.lastMessage();
    CliResult r = runCli("info " + test::quoted(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("encrypted"), std::string::npos) << r.out;
}

TEST_F(Qcow2ReaderTest, TablesPastTheEndOfTheFileWarnAndReadAsFailedZeros) {
    std::string path = image("cut.qcow2");
    FileReadSeekQcow2 whole;
    ASSERT_TRUE(whole.open(path));
    EXPECT_EQ(byteAt(whole, 1 << 20), 0x22);
    // Point the only L1 entry past the end of the file.
    std::uint64_t l1 = whole.header.l1TableOffset;
    ByteVector bytes = readFile(path);
    putBe(bytes, l1, 0x8000000000000000ull | (std::uint64_t(1) << 40), 8);
    writeFile(path, bytes);
    FileReadSeekQcow2 beyond;
    ASSERT_TRUE(beyond.open(path));
    ASSERT_FALSE(beyond.warnings().empty());
    EXPECT_NE(beyond.warnings().front().find("beyond the end of the file"), std::string::npos);
    std::vector<std::uint8_t> buf(4096, 0xEE);
    EXPECT_FALSE(beyond.readAt(0, buf.data(), 4096));
    EXPECT_EQ(buf, std::vector<std::uint8_t>(4096, 0));

    // A file cut inside its L1 table.
    std::filesystem::resize_file(path, l1 + 4);
    FileReadSeekQcow2 cut;
    ASSERT_TRUE(cut.open(path));
    EXPECT_NE(cut.warnings().front().find("L1 table is incomplete"), std::string::npos);
    EXPECT_FALSE(cut.readAt(0, buf.data(), 4096) && buf[0] != 0);
}

TEST_F(Qcow2ReaderTest, ADamagedCompressedClusterFailsAloneAsZeros) {
    std::string plain = image("plain.qcow2");
    std::string packed = dir.file("packed.qcow2");
    ASSERT_EQ(runCommand("qemu-img convert -q -c -O qcow2 " + test::quoted(plain) + " " + test::quoted(packed)), 0);
    FileReadSeekQcow2 reader;
    ASSERT_TRUE(reader.open(packed));
    EXPECT_EQ(byteAt(reader, 100), 0x11);
    EXPECT_EQ(byteAt(reader, (1 << 20) + 100), 0x22);
    // Scramble the first compressed cluster's bytes (the first data cluster after the tables).
    std::string map;
    runCommand("qemu-img map --output=json " + test::quoted(packed), &map);
    ByteVector bytes = readFile(packed);
    std::size_t dataStart = bytes.size() - 1;
    while (dataStart > 0 && bytes[dataStart] == 0) --dataStart;
    // The last non-zero bytes belong to the last compressed cluster (the one at 1 MiB).
    for (std::size_t i = dataStart > 40 ? dataStart - 40 : 0; i <= dataStart; ++i) bytes[i] ^= 0x5A;
    writeFile(packed, bytes);
    FileReadSeekQcow2 damaged;
    ASSERT_TRUE(damaged.open(packed));
    EXPECT_EQ(byteAt(damaged, 100), 0x11);
    std::vector<std::uint8_t> buf(512, 0xEE);
    EXPECT_FALSE(damaged.readAt((1 << 20) + 512, buf.data(), 512));
    EXPECT_EQ(buf, std::vector<std::uint8_t>(512, 0));
}

TEST_F(Qcow2ReaderTest, InternalSnapshotsAreListedAndReadable) {
    std::string path = image("snap.qcow2");
    ASSERT_EQ(runCommand("qemu-img snapshot -c before " + test::quoted(path) + " >/dev/null"), 0);
    ASSERT_EQ(runCommand("qemu-io -f qcow2 -c 'write -P 0x33 0 64k' " + test::quoted(path) + " >/dev/null"), 0);
    FileReadSeekQcow2 now;
    ASSERT_TRUE(now.open(path));
    ASSERT_EQ(now.snapshots.size(), 1u);
    EXPECT_EQ(now.snapshots[0].name, "before");
    EXPECT_EQ(byteAt(now, 0), 0x33);

    OpenOptions before;
    before.snapshot = "before";
    FileReadSeekQcow2 then;
    ASSERT_TRUE(then.open(path, before));
    EXPECT_EQ(byteAt(then, 0), 0x11);
    EXPECT_EQ(byteAt(then, 1 << 20), 0x22);
    OpenOptions after;
    after.snapshot = "after";
    FileReadSeekQcow2 none;
    EXPECT_FALSE(none.open(path, after));
    EXPECT_NE(none.lastMessage().find("no snapshot named \"after\""), std::string::npos);

    CliResult r = runCli("info --snapshot before " + test::quoted(path));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"before\""), std::string::npos) << r.out;
}

}  // namespace ondrel::test
