// Signature recovery on the carving fixture (files placed by the fixture
// script, made by ImageMagick, zip and by hand): every find at its offset,
// ended by its structure, or (for definitions no check knows) with the bytes
// a carver that searches end signatures at every byte writes; size fields,
// caps and open finds; settings files (300 records, a partial record,
// a skip of 1,000,000 bytes, a start signature at byte 300); the records the
// definition dialog builds.
#include "carving/CarvedAdapter.h"
#include "carving/CarvingJob.h"
#include "carving/DefaultSignatures.h"
#include "diskimage/FileReadSeek.h"
#include "diskimage/MemoryReader.h"
#include "unit/AdapterPaths.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace ondrel::test {

namespace {

std::string settings(const std::string& name) { return std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/" + name; }

struct Carved {
    FileReadSeek reader;
    std::shared_ptr<myJpg> scanner = std::make_shared<myJpg>();
    std::map<std::int64_t, const CarvedFile*> byOffset;
};

std::unique_ptr<Carved> carve(const std::vector<std::string>& settingsFiles) {
    auto c = std::make_unique<Carved>();
    EXPECT_TRUE(c->reader.open(fixture("carving.img")));
    std::string message;
    for (const auto& f : settingsFiles) EXPECT_TRUE(c->scanner->loadSettings(settings(f), message)) << f << ": " << message;
    EXPECT_TRUE(c->scanner->buildMatchTable());
    WorkControl control;
    EXPECT_TRUE(c->scanner->scan(c->reader, 0, static_cast<std::int64_t>(c->reader.sectorCount() * 512), silentObserver(), control));
    for (const CarvedFile& f : c->scanner->files()) c->byOffset[f.offset] = &f;
    return c;
}

struct Placed {
    std::int64_t offset, size;
    std::string type, outcome, carvedSha;
    std::int64_t carvedSize = 0;
    std::string sha;
};

std::vector<Placed> placed() {
    std::vector<Placed> out;
    std::ifstream in(settings("carving.manifest"));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> c;
        std::istringstream f(line);
        for (std::string col; std::getline(f, col, '\t');) c.push_back(col);
        if (c.size() < 8) continue;
        out.push_back({std::stoll(c[0]), std::stoll(c[1]), c[3], c[5], c[7], c[6].empty() ? 0 : std::stoll(c[6]), c[2]});
    }
    return out;
}

std::string sha256(const std::vector<std::uint8_t>& data) {
    TempDir t;
    writeFile(t.file("d"), data);
    std::string out;
    runCommand("sha256sum '" + t.file("d") + "'", &out);
    return out.substr(0, 64);
}

}  // namespace

// The carver's checks end every placed file where the file ends, whatever
// end signatures lie inside it; the fragmented and the cut-off JPEG are
// truncated, to the bytes that are theirs.
TEST(CarvingTest, StructureChecksEndEveryPlacedFileWhereItEnds) {
    if (fixture("carving.img").empty()) GTEST_SKIP();
    auto c = carve({"carving-types.settings"});
    auto adapter = std::make_shared<CarvedAdapter>(c->reader, c->scanner);
    auto paths = reachablePaths(*adapter);
    std::map<std::int64_t, EntryId> entries;
    for (const auto& [path, id] : paths)
        if (const CarvedFile* f = adapter->find(id)) entries[f->offset] = id;
    int whole = 0;
    for (const Placed& p : placed()) {
        if (p.type == "ond") continue;  // known only to its own settings file
        ASSERT_TRUE(c->byOffset.count(p.offset)) << p.type << " at " << p.offset;
        const CarvedFile& f = *c->byOffset[p.offset];
        if (p.outcome == "fragmented") {
            EXPECT_EQ(f.how, CarveEnd::Truncated) << p.offset;
            EXPECT_EQ(f.size, 4096) << "the first fragment, up to the PNG between the fragments";
            continue;
        }
        if (p.outcome == "noend") {
            EXPECT_EQ(f.how, CarveEnd::Truncated) << p.offset;
            // Its last bytes may look like the text after it; no more than that is lost or added.
            EXPECT_LE(f.size, p.size);
            EXPECT_GE(f.size, p.size - 32);
            continue;
        }
        EXPECT_EQ(f.how, CarveEnd::Structure) << p.type << " at " << p.offset;
        EXPECT_EQ(f.size, p.size) << p.type << " at " << p.offset;
        std::vector<std::uint8_t> data;
        adapter->readContent(entries[p.offset], data, 1 << 24);
        EXPECT_EQ(sha256(data), p.sha) << p.type << " at " << p.offset;
        ++whole;
    }
    EXPECT_GE(whole, 15);
    // Nothing else is claimed: every find is a placed file.
    EXPECT_EQ(c->scanner->files().size(), placed().size() - 1);
    EXPECT_EQ(adapter->name(0), "RAW RECOVERY ");
    EXPECT_EQ(adapter->name(1), "Pictures (16)");
    EXPECT_TRUE(paths.count("/Pictures (16)/3145216 .jpg")) << "the header in the last sector of a MiB";
}

// Bytes that are no file make no finds: seeded pseudo-random sectors (each
// start signature turns up at a sector start about once per 64 MiB of them)
// and compressed data (the xz of a fixture image).
TEST(CarvingTest, RandomAndCompressedBytesGiveNoFinds) {
    auto scanOf = [](const ByteVector& bytes) {
        auto scanner = std::make_shared<myJpg>();
        scanner->addSignatures(defaultSignatures());
        EXPECT_TRUE(scanner->buildMatchTable());
        MemoryReader reader(bytes);
        WorkControl control;
        EXPECT_TRUE(scanner->scan(reader, 0, static_cast<std::int64_t>(bytes.size()), silentObserver(), control));
        std::string found;
        for (const CarvedFile& f : scanner->files()) found += scanner->fileName(f) + " ";
        return found;
    };
    ByteVector random(std::size_t(128) << 20);
    std::mt19937_64 next(20261210);
    for (std::size_t i = 0; i < random.size(); i += 8) {
        const std::uint64_t v = next();
        std::memcpy(random.data() + i, &v, 8);
    }
    EXPECT_EQ(scanOf(random), "") << "false finds in 128 MiB of random bytes";
    const ByteVector packed = readFile(std::string(ONDREL_FIXTURE_SOURCE_DIR) + "/carve-fat32.img.xz");
    ASSERT_GT(packed.size(), 1u << 20);
    EXPECT_EQ(scanOf(packed), "") << "false finds in compressed bytes";
}

// A stretch of the disk that cannot be read (a bad sector run inside the
// EXIF JPEG of structure.img): it is reported once, with the find over it
// marked and its save a failure; the finds elsewhere are whole.
TEST(CarvingTest, UnreadableStretchesAreReportedOnceAndTheFindsOverThemFail) {
    if (fixture("structure.img").empty()) GTEST_SKIP();
    struct BadStretch : ByteSource {
        FileReadSeek file;
        std::int64_t from = 80384, to = 84480;  // sectors inside 72192 + 21199
        bool readAt(std::int64_t offset, void* buffer, std::size_t length) const override {
            if (!file.readAt(offset, buffer, length)) return false;
            const std::int64_t end = offset + static_cast<std::int64_t>(length);
            if (end <= from || offset >= to) return true;
            const std::int64_t a = std::max(offset, from), b = std::min(end, to);
            std::memset(static_cast<std::uint8_t*>(buffer) + (a - offset), 0, static_cast<std::size_t>(b - a));
            return false;
        }
        std::int64_t size() const override { return file.size(); }
    };
    auto disk = std::make_shared<BadStretch>();
    ASSERT_TRUE(disk->file.open(fixture("structure.img")));
    CarvingJob job;
    job.resetDefinitions(true, "/nonexistent/FileSetting.txt");  // the built-in set
    WorkControl control;
    ASSERT_TRUE(job.scan(disk, silentObserver(), control));
    const std::string summary = job.unreadableSummary();
    EXPECT_NE(summary.find("1 stretch(es)"), std::string::npos) << summary;
    // Located to the 4 KiB pieces that hold it: more may be marked unreadable, never less.
    EXPECT_NE(summary.find("8192 bytes, the first at byte 77824"), std::string::npos) << summary;
    EXPECT_NE(summary.find("the 1 find(s)"), std::string::npos) << summary;
    int marked = 0;
    for (const CarvedFile& f : job.scanner().files()) {
        EXPECT_EQ(f.unreadable, f.offset == 72192) << f.offset;
        marked += f.unreadable;
    }
    EXPECT_EQ(marked, 1);
    TempDir out;
    SaveOutcome saved = job.save({}, out.path().string(), silentObserver(), control);
    EXPECT_EQ(saved.failed, 1);
    EXPECT_EQ(saved.saved, static_cast<std::int64_t>(job.scanner().files().size()) - 1);
}

// A size field or a cap that reaches past the scanned range is cut at its
// end: a stated size beyond it is a file cut short ("truncated"), and a cap
// is no size at all (a fuzzed disk made every find a 2 GiB save).
TEST(CarvingTest, FindsEndWithTheScannedRange) {
    SignatureRecord sized;
    sized.extension = u"szd";
    sized.extensionLength = 3;
    sized.start = {'S', 'Z', 'D', '!'};
    sized.sizeOffset = 4;
    sized.sizeBytes = 4;
    sized.approximateSize = 64 << 20;
    sized.category = u"Tests";
    SignatureRecord capped = sized;
    capped.extension = u"cap";
    capped.start = {'C', 'A', 'P', '!'};
    capped.sizeOffset = -1;
    capped.sizeBytes = 0;
    ByteVector disk(64 << 10, 0);
    std::memcpy(disk.data() + 8192, "SZD!", 4);
    putLe(disk, 8192 + 4, 1000, 4);  // fits
    std::memcpy(disk.data() + 16384, "CAP!", 4);
    std::memcpy(disk.data() + 32768, "SZD!", 4);
    putLe(disk, 32768 + 4, 1 << 20, 4);  // says 1 MiB
    auto scanner = std::make_shared<myJpg>();
    scanner->addSignatures({sized, capped});
    ASSERT_TRUE(scanner->buildMatchTable());
    MemoryReader reader(disk);
    WorkControl control;
    ASSERT_TRUE(scanner->scan(reader, 0, static_cast<std::int64_t>(disk.size()), silentObserver(), control));
    std::map<std::int64_t, const CarvedFile*> at;
    for (const CarvedFile& f : scanner->files()) at[f.offset] = &f;
    ASSERT_TRUE(at.count(32768) && at.count(8192) && at.count(16384));
    EXPECT_EQ(at[32768]->size, std::int64_t(64 << 10) - 32768);
    EXPECT_EQ(at[32768]->how, CarveEnd::Truncated);
    EXPECT_EQ(at[8192]->size, 1000);
    EXPECT_EQ(at[8192]->how, CarveEnd::SizeField);
    EXPECT_EQ(at[16384]->size, std::int64_t(64 << 10) - 16384);
    EXPECT_EQ(at[16384]->how, CarveEnd::Cap);
}

// Definitions whose extensions have no check keep the end-signature and
// size-field rules: the same types under other names carve what such a
// carver writes (the manifest's CARVED columns).
TEST(CarvingTest, DefinitionsWithoutAStructureCheckKeepTheirOwnRules) {
    if (fixture("carving.img").empty()) GTEST_SKIP();
    std::vector<SignatureRecord> records;
    std::string message;
    ASSERT_TRUE(loadSignatureRecords(settings("carving-types.settings"), records, message)) << message;
    TempDir dir;
    const std::string renamed = dir.file("renamed.settings");
    for (SignatureRecord& r : records) {
        r.extension = u"x" + r.extension;  // xjpg, xpng, ...: no check knows them
        r.extensionLength = static_cast<std::uint8_t>(r.extension.size());
        ASSERT_TRUE(appendSignatureRecord(renamed, r, message)) << message;
    }
    auto c = std::make_unique<Carved>();
    ASSERT_TRUE(c->reader.open(fixture("carving.img")));
    ASSERT_TRUE(c->scanner->loadSettings(renamed, message)) << message;
    ASSERT_TRUE(c->scanner->buildMatchTable());
    WorkControl control;
    ASSERT_TRUE(c->scanner->scan(c->reader, 0, static_cast<std::int64_t>(c->reader.sectorCount() * 512), silentObserver(), control));
    for (const CarvedFile& f : c->scanner->files()) c->byOffset[f.offset] = &f;
    int compared = 0;
    for (const Placed& p : placed()) {
        if (p.type == "ond") continue;
        ASSERT_TRUE(c->byOffset.count(p.offset)) << p.type << " at " << p.offset;
        const CarvedFile& f = *c->byOffset[p.offset];
        EXPECT_EQ(c->scanner->fileName(f), std::to_string(p.offset) + " .x" + p.type);
        if (p.outcome == "noend") {
            EXPECT_EQ(f.how, CarveEnd::NoEnd) << p.offset;
            continue;
        }
        EXPECT_EQ(f.size, p.carvedSize) << p.type << " at " << p.offset;
        EXPECT_EQ(f.how, p.outcome == "size" ? CarveEnd::SizeField : CarveEnd::EndSignature) << p.offset;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(f.size));
        c->reader.readAt(f.offset, data.data(), data.size());
        EXPECT_EQ(sha256(data), p.carvedSha) << p.type << " at " << p.offset;
        ++compared;
    }
    EXPECT_GE(compared, 15);
}

TEST(CarvingTest, SettingsFilesAreReadByLengthAndCheckedWhole) {
    if (fixture("carving.img").empty()) GTEST_SKIP();
    // 300 records: the index byte wraps, the count comes from the length; the
    // jpg definition is the last record.
    auto many = carve({"carving-300.settings"});
    EXPECT_EQ(many->scanner->signatures().size(), 300u);
    EXPECT_TRUE(many->byOffset.count(3145216));
    myJpg partial;
    std::string message;
    EXPECT_FALSE(partial.loadSettings(settings("carving-partial.settings"), message));
    EXPECT_EQ(message, "Please select a valid file..");
    EXPECT_TRUE(partial.signatures().empty());
    EXPECT_FALSE(partial.loadSettings(settings("no-such.settings"), message));
    EXPECT_EQ(message, "Cannot open the selected file");
}

TEST(CarvingTest, SizeToSkipIsWholeSectorsAndStartOffsetsAboveAByteAreKept) {
    if (fixture("carving.img").empty()) GTEST_SKIP();
    auto skip = carve({"carving-skip.settings"});
    std::vector<std::int64_t> offsets;
    for (const CarvedFile& f : skip->scanner->files()) offsets.push_back(f.offset);
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{65536, 1065984, 2105344, 3145216, 4195840, 7340032, 8386048, 9441792}));
    auto at300 = carve({"carving-offset300.settings"});
    ASSERT_EQ(at300->scanner->files().size(), 1u) << "the decoy sector starting with the magic is not a find";
    // A second scan with the same definitions (Parse without reloading) replaces the finds.
    WorkControl control;
    at300->scanner->scan(at300->reader, 0, static_cast<std::int64_t>(at300->reader.sectorCount() * 512), silentObserver(), control);
    ASSERT_EQ(at300->scanner->files().size(), 1u);
    EXPECT_EQ(at300->scanner->count(at300->scanner->categories().front()), 1);
    EXPECT_EQ(at300->scanner->files()[0].offset, 6815744);
    EXPECT_EQ(at300->scanner->files()[0].size, 3000);
}

TEST(CarvingTest, TheDialogsRecordsRoundTripAndRefuseWhatCannotBeStored) {
    SignatureFields f;
    f.extension = "jpeg";
    f.startSignature = "0x89,0x50,0x4E,0x47";
    f.endSignature = "ff,d9";
    f.sizeOffset = "0";
    f.category = "Pictures";
    SignatureRecord r;
    std::string message;
    ASSERT_TRUE(buildSignatureRecord(f, 177 * 300, r, message));
    EXPECT_EQ(message, "everything initialized well.....");
    EXPECT_EQ(r.start, (std::vector<std::uint8_t>{0x89, 0x50, 0x4E, 0x47}));
    EXPECT_EQ(r.end, (std::vector<std::uint8_t>{0xFF, 0xD9}));
    EXPECT_EQ(r.sizeOffset, -1) << "an offset of 0 means no size field";
    // A record another tool wrote with an offset of 0 (or below) reads the same way.
    SignatureRecord stored = r;
    stored.end.clear();
    stored.sizeBytes = 4;
    for (std::int32_t offset : {0, -5}) {
        stored.sizeOffset = offset;
        EXPECT_FALSE(SignatureEntry::from(stored).hasSizeField()) << offset;
    }
    stored.sizeOffset = 2;
    EXPECT_TRUE(SignatureEntry::from(stored).hasSizeField());
    EXPECT_EQ(r.index, 300 % 256);
    SignatureRecord back = SignatureRecord::decode(r.encode().data());
    EXPECT_EQ(back.extension, u"jpeg");
    EXPECT_EQ(back.start, r.start);
    EXPECT_EQ(back.category, u"Pictures");
    f.extension = "jpegs";
    ASSERT_TRUE(buildSignatureRecord(f, 0, r, message));
    EXPECT_EQ(r.extension, u"jpeg");
    EXPECT_EQ(r.extensionLength, 5);
    f.startOffset = "300";
    ASSERT_TRUE(buildSignatureRecord(f, 0, r, message));
    EXPECT_EQ(SignatureRecord::decode(r.encode().data()).startOffset, 300);
    f.startOffset = "510";
    EXPECT_FALSE(buildSignatureRecord(f, 0, r, message)) << "offset plus length beyond the first sector";
    f.startOffset = "";
    f.extension = "";
    EXPECT_FALSE(buildSignatureRecord(f, 0, r, message));
    EXPECT_EQ(message, "extention length is zero..");
    f.extension = "png";
    f.startSignature = "";
    EXPECT_FALSE(buildSignatureRecord(f, 0, r, message));
    EXPECT_EQ(message, "signature length is zero..");
    f.startSignature = "1,2,3,4,5,6,7,8,9,10,11";
    EXPECT_FALSE(buildSignatureRecord(f, 0, r, message)) << "more than ten bytes";
}

TEST(CarvingTest, CommandLineListsSavesAndPrintsDefinitions) {
    if (fixture("carving.img").empty()) GTEST_SKIP();
    const std::string image = quoted(fixture("carving.img"));
    CliResult list = runCli("carve " + image + " --list --json --no-default --signatures " + quoted(settings("carving-types.settings")));
    ASSERT_EQ(list.status, 0) << list.out;
    EXPECT_NE(list.out.find(R"({"category":"Pictures","end":"structure","name":"5245440 .bmp","offset":5245440,"size":180138})"),
              std::string::npos)
        << list.out.substr(0, 400);
    TempDir out;
    CliResult saved = runCli("carve " + image + " --out " + quoted(out.path().string()));
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_NE(saved.out.find("saved "), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(out.path() / "Documents (1)" / "6295040 .pdf"));
    CliResult defs = runCli("signatures");
    EXPECT_EQ(defs.status, 0);
    EXPECT_NE(defs.out.find("jpg\tPictures\tstart FF,D8,FF @0\tend FF,D9"), std::string::npos) << defs.out;
    EXPECT_NE(runCli("carve " + image + " --list --no-default").status, 0);
}

}  // namespace ondrel::test
