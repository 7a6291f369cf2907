// BMP writer under wine: bitmaps of every depth written through the real GDI and file calls, read back.
#include "report/bmp_writer_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/win32/scratch_dir.h"

namespace {

std::uint32_t le(const std::string &f, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(f.at(at + static_cast<std::size_t>(i)));
    return v;
}

// File header, info header and colour table, at the offsets of the format.
constexpr std::size_t BF_TYPE = 0, BF_SIZE = 2, BF_RESERVED1 = 6, BF_RESERVED2 = 8, BF_OFF_BITS = 10;
constexpr std::size_t BI_SIZE = 14, BI_WIDTH = 18, BI_HEIGHT = 22, BI_PLANES = 26, BI_BIT_COUNT = 28,
                      BI_COMPRESSION = 30, BI_SIZE_IMAGE = 34, BI_X_PELS = 38, BI_Y_PELS = 42, BI_CLR_USED = 46,
                      BI_CLR_IMPORTANT = 50;
constexpr std::size_t COLOUR_TABLE = 54;

// The scratch file stands in for the Save As dialog, and the boxes are
// recorded instead of shown.
std::string chosenPath;
std::vector<std::string> messages;

long createScratchFile(void *context, bool *created)
{
    BitmapDumpTarget &target = *static_cast<BitmapDumpTarget *>(context);
    const long result = target.file.begin(chosenPath.c_str());
    *created = target.file.isOpen();
    return result;
}

void recordMessage(void *, const char *title, const char *text)
{
    messages.push_back(std::string(title) + ": " + text);
}

struct Depth {
    int bits;
    int width;
    int height;
    std::uint32_t clrUsed;
    std::uint32_t rowBytes;
};

// Width 965 at 8 bits is the example of rows padded from 965 to 968 bytes.
constexpr Depth DEPTHS[] = {
    {1, 13, 5, 2, 4},       {4, 13, 5, 16, 8},     {8, 965, 3, 256, 968},
    {16, 13, 5, 65536, 28}, {24, 13, 5, 0, 40},    {32, 13, 5, 0, 52},
};

// A DIB section of the depth, its top-left pixel set apart from the rest:
// white (or the palette's last entry) everywhere, black at (0, 0).
HBITMAP dibSection(HDC dc, const Depth &d)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = d.width;
    info.header.biHeight = d.height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(d.bits);
    info.header.biCompression = BI_RGB;
    if (d.bits <= 8) {
        const int entries = 1 << d.bits;
        for (int i = 0; i < entries; ++i) {
            const BYTE level = static_cast<BYTE>(i * 255 / (entries - 1));
            info.colours[i] = {level, level, level, 0};
        }
    }
    void *bits = nullptr;
    return CreateDIBSection(dc, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
}

// A device-dependent bitmap of the depth with the same picture, given as its
// initial bits (a memory context takes only bitmaps of the screen's depth, so
// it cannot be drawn into): rows top-down, padded to 2 bytes; all bits set,
// those of the top-left pixel clear.
HBITMAP plainBitmap(const Depth &d)
{
    const std::size_t stride = (static_cast<std::size_t>(d.width) * d.bits + 15) / 16 * 2;
    std::vector<std::uint8_t> bits(stride * d.height, 0xFF);
    if (d.bits < 8)
        bits[0] = static_cast<std::uint8_t>(0xFF >> d.bits);
    else
        std::fill(bits.begin(), bits.begin() + d.bits / 8, 0);
    return CreateBitmap(d.width, d.height, 1, static_cast<UINT>(d.bits), bits.data());
}

void paint(HDC dc, HBITMAP bitmap, const Depth &d)
{
    ScopedSelection held(dc, bitmap);
    PatBlt(dc, 0, 0, d.width, d.height, WHITENESS);
    SetPixel(dc, 0, 0, RGB(0, 0, 0));
    GdiFlush();
}

// The whole path of a dump after the capture: description record, file, pixel fetch, writes.
std::string dumpToFile(HDC dc, HBITMAP bitmap, const std::string &path)
{
    chosenPath = path;
    messages.clear();
    BitmapDumpTarget target = {nullptr, bitmap, dc, {}};
    BitmapDumpOps ops = bitmapDumpOps(&target);
    ops.chooseFile = createScratchFile;
    ops.showMessage = recordMessage;
    ScopedLocalMemory info(buildBitmapInfo(nullptr, bitmap));
    EXPECT_NE(info.get(), nullptr);
    if (info)
        writeBitmapRecord(ops, static_cast<std::uint8_t *>(info.get()));
    EXPECT_FALSE(target.file.isOpen());
    return readWholeFile(path);
}

void checkFile(const std::string &f, const Depth &d, int reportedBits)
{
    ASSERT_GE(f.size(), COLOUR_TABLE);
    const std::uint32_t sizeImage = d.rowBytes * static_cast<std::uint32_t>(d.height);
    const std::uint32_t offBits = 54 + 4 * d.clrUsed;
    EXPECT_EQ(f.substr(BF_TYPE, 2), "BM");
    EXPECT_EQ(le(f, BF_SIZE, 4), f.size());
    EXPECT_EQ(le(f, BF_SIZE, 4), offBits + sizeImage);
    EXPECT_EQ(le(f, BF_RESERVED1, 2), 0u);
    EXPECT_EQ(le(f, BF_RESERVED2, 2), 0u);
    EXPECT_EQ(le(f, BF_OFF_BITS, 4), offBits);
    EXPECT_EQ(le(f, BI_SIZE, 4), 40u);
    EXPECT_EQ(le(f, BI_WIDTH, 4), static_cast<std::uint32_t>(d.width));
    EXPECT_EQ(le(f, BI_HEIGHT, 4), static_cast<std::uint32_t>(d.height));
    EXPECT_EQ(le(f, BI_PLANES, 2), 1u);
    EXPECT_EQ(le(f, BI_BIT_COUNT, 2), static_cast<std::uint32_t>(reportedBits));
    EXPECT_EQ(le(f, BI_COMPRESSION, 4), 0u);
    EXPECT_EQ(le(f, BI_SIZE_IMAGE, 4), sizeImage);
    EXPECT_EQ(le(f, BI_X_PELS, 4), 0u);
    EXPECT_EQ(le(f, BI_Y_PELS, 4), 0u);
    EXPECT_EQ(le(f, BI_CLR_USED, 4), d.clrUsed);
    EXPECT_EQ(le(f, BI_CLR_IMPORTANT, 4), 0u);
}

// The pixel at the top-left corner of the bitmap is the first of the file's
// last row (rows bottom-up). Black against white at every depth: index 0 of
// a grey ramp, or zero bytes.
void checkCorner(const std::string &f, const Depth &d)
{
    const std::size_t lastRow = le(f, BF_OFF_BITS, 4) + static_cast<std::size_t>(d.height - 1) * d.rowBytes;
    const std::size_t firstRow = le(f, BF_OFF_BITS, 4);
    const auto byteAt = [&](std::size_t at) { return static_cast<std::uint8_t>(f.at(at)); };
    if (d.bits < 8) {
        EXPECT_EQ(byteAt(lastRow) >> (8 - d.bits), 0) << "top-left pixel is index 0 (black)";
        EXPECT_NE(byteAt(firstRow) >> (8 - d.bits), 0) << "bottom-left pixel is not black";
    } else {
        EXPECT_EQ(byteAt(lastRow), 0);
        EXPECT_NE(byteAt(firstRow), 0);
    }
}

class BmpWriter : public ::testing::Test {
protected:
    void SetUp() override { dc = CreateCompatibleDC(nullptr); }
    void TearDown() override { DeleteDC(dc); }
    HDC dc = nullptr;
    ScratchDir scratch;
};

TEST_F(BmpWriter, DibSectionsOfEveryDepthGiveTheirHeadersTablesAndSizes)
{
    for (const Depth &d : DEPTHS) {
        SCOPED_TRACE(std::to_string(d.bits) + " bits per pixel");
        ScopedGdiObject<HBITMAP> bitmap(dibSection(dc, d));
        ASSERT_NE(bitmap.get(), nullptr);
        paint(dc, bitmap.get(), d);
        const std::string f = dumpToFile(dc, bitmap.get(), scratch.path("dib.bmp"));
        EXPECT_EQ(messages, std::vector<std::string>{});
        checkFile(f, d, d.bits);
        checkCorner(f, d);
        if (d.bits <= 8) {
            // The palette comes with the pixels: black first, white last.
            EXPECT_EQ(le(f, COLOUR_TABLE, 4), 0u);
            EXPECT_EQ(le(f, COLOUR_TABLE + 4 * (d.clrUsed - 1), 4), 0x00FFFFFFu);
        }
        if (d.bits == 16) {
            EXPECT_EQ(f.substr(COLOUR_TABLE, 4 * d.clrUsed), std::string(4 * d.clrUsed, '\0'));
        }
    }
}

TEST_F(BmpWriter, PlainBitmapsOfEveryDepthAreWrittenAsTheyReportThemselves)
{
    for (const Depth &d : DEPTHS) {
        SCOPED_TRACE(std::to_string(d.bits) + " bits per pixel");
        ScopedGdiObject<HBITMAP> bitmap(plainBitmap(d));
        ASSERT_NE(bitmap.get(), nullptr);
        BITMAP described = {};
        ASSERT_EQ(GetObjectA(bitmap.get(), sizeof described, &described), static_cast<int>(sizeof described));
        ASSERT_EQ(described.bmBitsPixel, d.bits);
        const std::string f = dumpToFile(dc, bitmap.get(), scratch.path("plain.bmp"));
        EXPECT_EQ(messages, std::vector<std::string>{});
        checkFile(f, d, d.bits);
        checkCorner(f, d);
    }
}

TEST_F(BmpWriter, AnExistingFileIsTruncatedAndRewritten)
{
    const Depth &d = DEPTHS[5];
    const std::string path = scratch.path("again.bmp");
    writeWholeFile(path, std::string(100000, 'x'));
    ScopedGdiObject<HBITMAP> bitmap(dibSection(dc, d));
    paint(dc, bitmap.get(), d);
    const std::string f = dumpToFile(dc, bitmap.get(), path);
    EXPECT_EQ(f.size(), 54u + 52u * 5u);
    checkFile(f, d, 32);
}

} // namespace
