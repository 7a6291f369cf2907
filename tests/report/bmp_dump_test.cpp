// BMP writer through a scripted platform: the depth table in the written file, and every failure of the write sequence.
#include "report/bmp_dump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The file as any BMP reader sees it, with the offsets of the format kept
// here rather than taken from the program.
struct ParsedBmp {
    std::uint16_t type, reserved1, reserved2;
    std::uint32_t fileSize, pixelOffset;
    std::uint32_t infoSize, compression, sizeImage, clrUsed, clrImportant;
    std::int32_t width, height, xPels, yPels;
    std::uint16_t planes, bitCount;
};

std::uint32_t le(const std::string &f, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(f.at(at + static_cast<std::size_t>(i)));
    return v;
}

ParsedBmp parse(const std::string &f)
{
    ParsedBmp p;
    p.type = static_cast<std::uint16_t>(le(f, 0, 2));
    p.fileSize = le(f, 2, 4);
    p.reserved1 = static_cast<std::uint16_t>(le(f, 6, 2));
    p.reserved2 = static_cast<std::uint16_t>(le(f, 8, 2));
    p.pixelOffset = le(f, 10, 4);
    p.infoSize = le(f, 14, 4);
    p.width = static_cast<std::int32_t>(le(f, 18, 4));
    p.height = static_cast<std::int32_t>(le(f, 22, 4));
    p.planes = static_cast<std::uint16_t>(le(f, 26, 2));
    p.bitCount = static_cast<std::uint16_t>(le(f, 28, 2));
    p.compression = le(f, 30, 4);
    p.sizeImage = le(f, 34, 4);
    p.xPels = static_cast<std::int32_t>(le(f, 38, 4));
    p.yPels = static_cast<std::int32_t>(le(f, 42, 4));
    p.clrUsed = le(f, 46, 4);
    p.clrImportant = le(f, 50, 4);
    return p;
}

constexpr std::size_t COLOUR_TABLE_AT = 54;
constexpr std::size_t CLR_USED_IN_RECORD = 32;
constexpr std::size_t SIZE_IMAGE_IN_RECORD = 20;

// A scripted platform: what the bitmap says of itself, which steps fail, and
// a log of every call in order. The "file" collects what is written.
struct FakePlatform {
    BitmapShape shape = {4, 2, 1, 32};
    bool shapeReadable = true;
    bool recordAllocates = true;
    long chooseResult = 0;
    bool fileCreated = true;
    bool pixelsAllocate = true;
    bool fetchSucceeds = true;
    long fetchSetsClrUsed = -1; // >= 0: the fetch rewrites biClrUsed
    long fetchSetsSizeImage = -1; // >= 0: the fetch rewrites biSizeImage
    bool writeFails[3] = {false, false, false};
    bool commitSucceeds = true;

    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> pixels;
    std::uint32_t recordBytes = 0;
    std::uint32_t pixelBytes = 0;
    std::int32_t fetchedLines = -1;
    bool fileOpen = false;
    int writes = 0;
    std::string file;
    std::vector<std::string> log;
};

FakePlatform fake;

bool fakeReadShape(void *, BitmapShape *shape)
{
    fake.log.push_back("shape");
    *shape = fake.shape;
    return fake.shapeReadable;
}

std::uint8_t *fakeAllocateRecord(void *, std::uint32_t bytes)
{
    fake.log.push_back("record");
    fake.recordBytes = bytes;
    if (!fake.recordAllocates)
        return nullptr;
    fake.record.assign(bytes, 0);
    return fake.record.data();
}

long fakeChooseFile(void *, bool *created)
{
    fake.log.push_back("choose");
    *created = fake.chooseResult == 0 && fake.fileCreated;
    fake.fileOpen = *created;
    return fake.chooseResult;
}

std::uint8_t *fakeAllocatePixels(void *, std::uint32_t bytes)
{
    fake.log.push_back("pixels");
    fake.pixelBytes = bytes;
    if (!fake.pixelsAllocate)
        return nullptr;
    fake.pixels.assign(bytes, 0);
    return fake.pixels.data();
}

// Like GetDIBits: the pixels in a pattern, and a colour table in one below 24 bits.
bool fakeFetch(void *, std::uint8_t *record, std::uint8_t *pixels, std::int32_t lines)
{
    fake.log.push_back("fetch");
    EXPECT_EQ(record, fake.record.data());
    EXPECT_EQ(pixels, fake.pixels.data());
    fake.fetchedLines = lines;
    if (!fake.fetchSucceeds)
        return false;
    for (std::uint32_t i = 0; i < fake.pixelBytes; ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::uint32_t clrUsed = le(std::string(record, record + 40), CLR_USED_IN_RECORD, 4);
    const int bits = fake.shape.planes * fake.shape.bitsPixel;
    if (bits <= 8) {
        for (std::uint32_t i = 40; i < 40 + 4 * clrUsed && i < fake.recordBytes; ++i)
            record[i] = static_cast<std::uint8_t>(i * 3);
    }
    if (fake.fetchSetsClrUsed >= 0) {
        for (int i = 0; i < 4; ++i)
            record[CLR_USED_IN_RECORD + i] = static_cast<std::uint8_t>(fake.fetchSetsClrUsed >> (8 * i));
    }
    if (fake.fetchSetsSizeImage >= 0) {
        for (int i = 0; i < 4; ++i)
            record[SIZE_IMAGE_IN_RECORD + i] = static_cast<std::uint8_t>(fake.fetchSetsSizeImage >> (8 * i));
    }
    return true;
}

bool fakeWrite(void *, const std::uint8_t *bytes, std::uint32_t count)
{
    EXPECT_TRUE(fake.fileOpen) << "write to a closed file";
    const int n = fake.writes++;
    fake.log.push_back("write " + std::to_string(count));
    if (n < 3 && fake.writeFails[n])
        return false;
    fake.file.append(reinterpret_cast<const char *>(bytes), count);
    return true;
}

bool fakeCommit(void *)
{
    EXPECT_TRUE(fake.fileOpen) << "commit without an open file";
    fake.log.push_back("commit");
    fake.fileOpen = false;
    return fake.commitSucceeds;
}

void fakeDiscard(void *)
{
    EXPECT_TRUE(fake.fileOpen) << "discard without an open file";
    fake.log.push_back("discard");
    fake.fileOpen = false;
}

void fakeReleasePixels(void *, std::uint8_t *pixels)
{
    EXPECT_EQ(pixels, fake.pixels.data());
    fake.log.push_back("release");
}

void fakeMessage(void *, const char *title, const char *text)
{
    fake.log.push_back(std::string("box ") + title + ": " + text);
}

const BitmapDumpOps ops = {nullptr,   fakeReadShape, fakeAllocateRecord, fakeChooseFile,
                           fakeAllocatePixels, fakeFetch, fakeWrite, fakeCommit, fakeDiscard,
                           fakeReleasePixels, fakeMessage};

std::string box(const std::string &text)
{
    return "box Screen dump: " + text;
}

using Log = std::vector<std::string>;

// Up to `bytes` of the record after its 40-byte header, as the fetch left them.
std::string colourTable(std::size_t bytes)
{
    return std::string(fake.record.begin(), fake.record.end()).substr(40, bytes);
}

// A whole dump as the command runs it: record, then the write when there is one.
void dump()
{
    if (std::uint8_t *record = buildBitmapRecord(ops))
        writeBitmapRecord(ops, record);
}

class BmpDump : public ::testing::Test {
protected:
    void SetUp() override { fake = FakePlatform{}; }
};

// One row of the depth table, with a bitmap of the given size.
struct DepthRow {
    std::uint16_t planes, bitsPixel;
    std::int32_t width, height;
    std::uint32_t clrUsed;     // 2^B below 24 bits
    std::uint32_t rowBytes;    // width x B, padded to 4
    std::uint32_t recordBytes; // 40 + colour table (44 at 32 bits)
    std::uint32_t pixelOffset;
};

TEST_F(BmpDump, EachDepthGivesItsHeaderColourTableAndSizes)
{
    const DepthRow rows[] = {
        {1, 1, 33, 2, 2, 8, 48, 62},              // B 1: 33 bits in two words
        {1, 0, 3, 2, 16, 4, 104, 118},            // p 0 is written as 4 bits
        {1, 2, 9, 1, 16, 8, 104, 118},            // 2 to 4 bits: B 4
        {1, 3, 1, 1, 16, 4, 104, 118},
        {1, 4, 7, 3, 16, 4, 104, 118},
        {4, 1, 7, 3, 16, 4, 104, 118},            // 4 planes of 1 bit: B 4, biBitCount stays 1
        {1, 5, 3, 2, 256, 4, 1064, 1078},         // 5 to 8 bits: B 8
        {1, 8, 965, 2, 256, 968, 1064, 1078},     // rows of 968 bytes, 1024-byte table
        {1, 9, 3, 2, 65536, 8, 262184, 262198},   // 9 to 16 bits: B 16
        {1, 16, 3, 2, 65536, 8, 262184, 262198},  // zero table of 262144 bytes
        {1, 17, 5, 3, 0, 16, 40, 54},             // 17 to 24 bits: B 24
        {1, 24, 5, 3, 0, 16, 40, 54},             // rows of width x 3 rounded up to 4
        {1, 25, 5, 3, 0, 20, 44, 54},             // above 24: B 32
        {1, 32, 5, 3, 0, 20, 44, 54},             // the usual display: 54 + width x 4 x height
        {2, 16, 5, 3, 0, 20, 44, 54},
    };
    for (const DepthRow &row : rows) {
        SCOPED_TRACE("planes " + std::to_string(row.planes) + " bits " + std::to_string(row.bitsPixel) + " width " +
                     std::to_string(row.width));
        SetUp();
        fake.shape = {row.width, row.height, row.planes, row.bitsPixel};
        dump();
        EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", "fetch", "write 14",
                                 "write " + std::to_string(40 + 4 * row.clrUsed),
                                 "write " + std::to_string(row.rowBytes * row.height), "commit", "release"}));
        EXPECT_EQ(fake.recordBytes, row.recordBytes);
        EXPECT_EQ(fake.pixelBytes, row.rowBytes * row.height);
        EXPECT_EQ(fake.fetchedLines, row.height);

        const ParsedBmp f = parse(fake.file);
        EXPECT_EQ(f.type, 0x4D42);
        EXPECT_EQ(fake.file.substr(0, 2), "BM");
        EXPECT_EQ(f.fileSize, fake.file.size());
        EXPECT_EQ(f.fileSize, row.pixelOffset + row.rowBytes * row.height);
        EXPECT_EQ(f.reserved1, 0);
        EXPECT_EQ(f.reserved2, 0);
        EXPECT_EQ(f.pixelOffset, row.pixelOffset);
        EXPECT_EQ(f.pixelOffset, 54 + 4 * row.clrUsed);
        EXPECT_EQ(f.infoSize, 40u);
        EXPECT_EQ(f.width, row.width);
        EXPECT_EQ(f.height, row.height);
        EXPECT_EQ(f.planes, row.planes);
        EXPECT_EQ(f.bitCount, row.bitsPixel);
        EXPECT_EQ(f.compression, 0u);
        EXPECT_EQ(f.sizeImage, row.rowBytes * row.height);
        EXPECT_EQ(f.xPels, 0);
        EXPECT_EQ(f.yPels, 0);
        EXPECT_EQ(f.clrUsed, row.clrUsed);
        EXPECT_EQ(f.clrImportant, 0u);
        // The colour table and the pixels are the record's and the buffer's bytes as fetched.
        EXPECT_EQ(fake.file.substr(COLOUR_TABLE_AT, 4 * row.clrUsed), colourTable(4 * row.clrUsed));
        EXPECT_EQ(fake.file.substr(f.pixelOffset), std::string(fake.pixels.begin(), fake.pixels.end()));
        if (row.bitsPixel * row.planes > 8 && row.clrUsed > 0) {
            EXPECT_EQ(fake.file.substr(COLOUR_TABLE_AT, 4 * row.clrUsed), std::string(4 * row.clrUsed, '\0'))
                << "16 bits: the table is left as allocated, zero";
        }
    }
}

TEST_F(BmpDump, TheFileHeaderFollowsTheRecordAsTheFetchLeftIt)
{
    // A fetch may tell the colours it really uses: the table and the offsets follow.
    fake.shape = {3, 2, 1, 8};
    fake.fetchSetsClrUsed = 16;
    dump();
    ParsedBmp f = parse(fake.file);
    EXPECT_EQ(f.clrUsed, 16u);
    EXPECT_EQ(f.pixelOffset, 54u + 64u);
    EXPECT_EQ(f.fileSize, fake.file.size());
    EXPECT_EQ(fake.file.size(), 54u + 64u + 8u);

    // A count of 0 (what wine's fetch leaves at every depth) means a full
    // table at 8 bits and fewer: the table the record was built with is
    // written, as at 16 bits, where it stays zero.
    for (std::uint16_t bits : {1, 4, 8, 16}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        SetUp();
        fake.shape = {3, 2, 1, bits};
        fake.fetchSetsClrUsed = 0;
        dump();
        f = parse(fake.file);
        const std::uint32_t entries = std::uint32_t{1} << bits;
        EXPECT_EQ(f.clrUsed, entries);
        EXPECT_EQ(f.pixelOffset, 54 + 4 * entries);
        EXPECT_EQ(fake.file.substr(COLOUR_TABLE_AT, 4 * entries), colourTable(4 * entries));
        EXPECT_EQ(f.fileSize, fake.file.size());
    }

    // One that claims more colours than the record holds would have the
    // write read past it: refused as a failed fetch, nothing written.
    SetUp();
    fake.shape = {3, 2, 1, 8};
    fake.fetchSetsClrUsed = 257;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", "fetch", box(MSG_BMP_FETCH_FAILED), "discard",
                             "release"}));
    EXPECT_TRUE(fake.file.empty());

    // So is one that claims more pixel bytes than the buffer it was given.
    SetUp();
    fake.fetchSetsSizeImage = 4 * 4 * 2 + 1;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", "fetch", box(MSG_BMP_FETCH_FAILED), "discard",
                             "release"}));
    EXPECT_TRUE(fake.file.empty());
}

TEST_F(BmpDump, AShapeWhoseSizesWouldWrapTheHeaderIsRefusedBeforeAnythingIsMade)
{
    // 16384 x 65535 at 32 bits is 54 bytes short of 4 GiB: it may go on (its
    // pixel buffer is refused here); one row more and bfSize would wrap.
    fake.shape = {16384, 65535, 1, 32};
    fake.pixelsAllocate = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", box(MSG_BMP_ALLOCATE_FAILED), "discard"}));
    for (const BitmapShape &shape : {BitmapShape{16384, 65536, 1, 32}, BitmapShape{0x7FFFFFFF, 0x7FFFFFFF, 1, 32}}) {
        SetUp();
        fake.shape = shape;
        dump();
        EXPECT_EQ(fake.log, (Log{"shape", box(MSG_BMP_FORMAT_FAILED)}));
    }
}

TEST_F(BmpDump, AnUnreadableBitmapOrNoRecordEndsTheDumpWithOneMessage)
{
    fake.shapeReadable = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", box("Error retrieving BMP-color format")}));

    SetUp();
    fake.recordAllocates = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", box("Error allocating memory for bitmap")}));
}

TEST_F(BmpDump, ACancelledDialogWritesNothingAndSaysNothing)
{
    fake.fileCreated = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose"}));
}

TEST_F(BmpDump, AFailedDialogOrCreationIsReportedWithItsCode)
{
    fake.chooseResult = 12291; // the dialog's own error
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", box("Error creating the BMP-file: 12291")}));

    SetUp();
    fake.chooseResult = 5; // the system refused the file
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", box("Error creating the BMP-file: 5")}));
}

TEST_F(BmpDump, NoPixelBufferOrAFailedFetchLeavesTheFileClosedAndEmpty)
{
    fake.pixelsAllocate = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", box("Error allocating memory for bitmap"),
                             "discard"}));
    EXPECT_TRUE(fake.file.empty());

    SetUp();
    fake.fetchSucceeds = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", "fetch",
                             box("Error retrieving color table information"), "discard", "release"}));
    EXPECT_EQ(fake.writes, 0);
    EXPECT_FALSE(fake.fileOpen);
}

// The first failed write is told once and ends the writing; a file with a part
// missing never takes the chosen name.
TEST_F(BmpDump, AFailedWriteIsToldOnceAndEndsTheWriting)
{
    const std::string failed = box("Error Writing file to disc");
    for (int mask = 1; mask < 8; ++mask) {
        SCOPED_TRACE("failing writes " + std::to_string(mask));
        SetUp();
        for (int i = 0; i < 3; ++i)
            fake.writeFails[i] = (mask >> i) & 1;
        dump();
        Log expected = {"shape", "record", "choose", "pixels", "fetch"};
        const std::uint32_t sizes[3] = {14, 40, 32};
        for (int i = 0; i < 3; ++i) {
            expected.push_back("write " + std::to_string(sizes[i]));
            if (fake.writeFails[i]) {
                expected.push_back(failed);
                break;
            }
        }
        expected.push_back("discard");
        expected.push_back("release");
        EXPECT_EQ(fake.log, expected);
    }
}

// A close or replacement that fails is told once; it leaves nothing to discard.
TEST_F(BmpDump, AFailedCloseIsReportedOnce)
{
    fake.commitSucceeds = false;
    dump();
    EXPECT_EQ(fake.log, (Log{"shape", "record", "choose", "pixels", "fetch", "write 14", "write 40", "write 32",
                             "commit", box("Error closing file..."), "release"}));
    EXPECT_EQ(fake.file.size(), 86u) << "what was written is whole";
}

} // namespace
