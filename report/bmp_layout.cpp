// The screen dump's BMP layout: depth table, info header image and file header image.
#include "report/bmp_layout.h"

// Planes x bits per pixel up to each limit gives the file depth beside it;
// anything above the last limit is 32 bits. A bitmap that reports 0 bits is
// written as 4 bits, as one of 2 to 4.
struct DepthStep {
    std::uint32_t upTo;
    int fileBits;
};
static constexpr DepthStep DEPTH_STEPS[] = {{0, 4}, {1, 1}, {4, 4}, {8, 8}, {16, 16}, {24, 24}};
static constexpr int DEEPEST_FILE_BITS = 32;
// Below this depth the file carries a colour table of 2^B entries.
static constexpr int TRUE_COLOUR_BITS = 24;

BitmapDepth bitmapDepth(std::uint32_t planesTimesBits)
{
    int bits = DEEPEST_FILE_BITS;
    for (const DepthStep &step : DEPTH_STEPS) {
        if (planesTimesBits <= step.upTo) {
            bits = step.fileBits;
            break;
        }
    }
    BitmapDepth depth = {bits, 0, 0, BMP_INFO_HEADER_SIZE};
    if (bits < TRUE_COLOUR_BITS) {
        depth.clrUsed = std::uint32_t{1} << bits;
        depth.colourTableBytes = BMP_COLOUR_ENTRY_SIZE * depth.clrUsed;
        depth.recordBytes += depth.colourTableBytes;
    } else if (bits == DEEPEST_FILE_BITS) {
        depth.recordBytes += BMP_COLOUR_ENTRY_SIZE;
    }
    return depth;
}

std::uint32_t bitmapRowBytes(std::int32_t width, int fileBits)
{
    // Whole 32-bit words per row.
    const std::uint64_t bits = static_cast<std::uint64_t>(width < 0 ? 0 : width) * static_cast<unsigned>(fileBits);
    return static_cast<std::uint32_t>((bits + 31) / 32 * 4);
}

bool bitmapSizesFit(const BitmapShape &shape)
{
    const BitmapDepth depth = bitmapDepth(std::uint32_t{shape.planes} * shape.bitsPixel);
    const std::uint64_t bits =
        static_cast<std::uint64_t>(shape.width < 0 ? 0 : shape.width) * static_cast<unsigned>(depth.fileBits);
    const std::uint64_t rows = static_cast<std::uint64_t>(shape.height < 0 ? 0 : shape.height);
    // A row is under 2^33 bytes and there are under 2^31 rows: no 64-bit product wraps.
    const std::uint64_t fileBytes = std::uint64_t{BMP_FILE_HEADER_SIZE} + BMP_INFO_HEADER_SIZE +
                                    depth.colourTableBytes + (bits + 31) / 32 * 4 * rows;
    return fileBytes <= 0xFFFFFFFFu;
}

BitmapInfoFields bitmapInfoFields(const BitmapShape &shape)
{
    const BitmapDepth depth = bitmapDepth(std::uint32_t{shape.planes} * shape.bitsPixel);
    BitmapInfoFields f = {};
    f.size = BMP_INFO_HEADER_SIZE;
    f.width = shape.width;
    f.height = shape.height;
    f.planes = shape.planes;
    f.bitCount = shape.bitsPixel;
    f.compression = BMP_UNCOMPRESSED;
    const std::uint32_t rows = static_cast<std::uint32_t>(shape.height < 0 ? 0 : shape.height);
    f.sizeImage = bitmapRowBytes(shape.width, depth.fileBits) * rows;
    f.clrUsed = depth.clrUsed;
    return f;
}

static void put16(std::uint8_t *at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

static void put32(std::uint8_t *at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

static std::uint16_t get16(const std::uint8_t *at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

static std::uint32_t get32(const std::uint8_t *at)
{
    return std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
           (std::uint32_t{at[3]} << 24);
}

// Offsets inside the info header.
enum InfoOffset : std::size_t {
    INFO_SIZE = 0,
    INFO_WIDTH = 4,
    INFO_HEIGHT = 8,
    INFO_PLANES = 12,
    INFO_BIT_COUNT = 14,
    INFO_COMPRESSION = 16,
    INFO_SIZE_IMAGE = 20,
    INFO_X_PELS = 24,
    INFO_Y_PELS = 28,
    INFO_CLR_USED = 32,
    INFO_CLR_IMPORTANT = 36,
};

void encodeInfoHeader(const BitmapInfoFields &f, std::uint8_t out[BMP_INFO_HEADER_SIZE])
{
    put32(out + INFO_SIZE, f.size);
    put32(out + INFO_WIDTH, static_cast<std::uint32_t>(f.width));
    put32(out + INFO_HEIGHT, static_cast<std::uint32_t>(f.height));
    put16(out + INFO_PLANES, f.planes);
    put16(out + INFO_BIT_COUNT, f.bitCount);
    put32(out + INFO_COMPRESSION, f.compression);
    put32(out + INFO_SIZE_IMAGE, f.sizeImage);
    put32(out + INFO_X_PELS, static_cast<std::uint32_t>(f.xPelsPerMeter));
    put32(out + INFO_Y_PELS, static_cast<std::uint32_t>(f.yPelsPerMeter));
    put32(out + INFO_CLR_USED, f.clrUsed);
    put32(out + INFO_CLR_IMPORTANT, f.clrImportant);
}

BitmapInfoFields decodeInfoHeader(const std::uint8_t in[BMP_INFO_HEADER_SIZE])
{
    BitmapInfoFields f;
    f.size = get32(in + INFO_SIZE);
    f.width = static_cast<std::int32_t>(get32(in + INFO_WIDTH));
    f.height = static_cast<std::int32_t>(get32(in + INFO_HEIGHT));
    f.planes = get16(in + INFO_PLANES);
    f.bitCount = get16(in + INFO_BIT_COUNT);
    f.compression = get32(in + INFO_COMPRESSION);
    f.sizeImage = get32(in + INFO_SIZE_IMAGE);
    f.xPelsPerMeter = static_cast<std::int32_t>(get32(in + INFO_X_PELS));
    f.yPelsPerMeter = static_cast<std::int32_t>(get32(in + INFO_Y_PELS));
    f.clrUsed = get32(in + INFO_CLR_USED);
    f.clrImportant = get32(in + INFO_CLR_IMPORTANT);
    return f;
}

BitmapFileHeader bitmapFileHeader(const BitmapInfoFields &afterFetch)
{
    const std::uint32_t offset =
        BMP_FILE_HEADER_SIZE + afterFetch.size + BMP_COLOUR_ENTRY_SIZE * afterFetch.clrUsed;
    return {offset + afterFetch.sizeImage, offset};
}

// Offsets inside the file header; the two reserved words stay 0.
enum FileOffset : std::size_t {
    FILE_TYPE = 0,
    FILE_SIZE = 2,
    FILE_RESERVED1 = 6,
    FILE_RESERVED2 = 8,
    FILE_PIXEL_OFFSET = 10,
};

void encodeFileHeader(const BitmapFileHeader &header, std::uint8_t out[BMP_FILE_HEADER_SIZE])
{
    put16(out + FILE_TYPE, BMP_FILE_TYPE);
    put32(out + FILE_SIZE, header.fileSize);
    put16(out + FILE_RESERVED1, 0);
    put16(out + FILE_RESERVED2, 0);
    put32(out + FILE_PIXEL_OFFSET, header.pixelOffset);
}
