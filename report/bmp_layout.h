// The screen dump's BMP layout: colour depth by bits per pixel, the info header, the 14-byte file header.
//
// The description record is a byte block laid out as GDI's bitmap info (a
// 40-byte info header, then the colour table, 4 bytes an entry); the file
// starts with a 14-byte header followed by that block and the pixels. All
// numbers are little-endian, so the records here are byte images read and
// written field by field, whatever the host.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t BMP_FILE_HEADER_SIZE = 14;
inline constexpr std::uint32_t BMP_INFO_HEADER_SIZE = 40;
inline constexpr std::uint16_t BMP_FILE_TYPE = 0x4D42; // "BM"
inline constexpr std::uint32_t BMP_COLOUR_ENTRY_SIZE = 4; // blue, green, red, reserved
inline constexpr std::uint32_t BMP_UNCOMPRESSED = 0;      // BI_RGB

// The file's colour depth B for a bitmap of planes x bits per pixel p, and
// what it takes in the record. A 32-bit record keeps one spare entry after the
// header, although the file carries no colour table at that depth.
struct BitmapDepth {
    int fileBits;                   // B: 1, 4, 8, 16, 24 or 32
    std::uint32_t clrUsed;          // 2^B below 24 bits, else 0
    std::uint32_t colourTableBytes; // 4 x clrUsed
    std::uint32_t recordBytes;      // header and room for the colour table
};
BitmapDepth bitmapDepth(std::uint32_t planesTimesBits);

// Bytes of one row of pixels at B bits, padded to a multiple of 4.
std::uint32_t bitmapRowBytes(std::int32_t width, int fileBits);

// What the bitmap says of itself (GetObjectA's width, height, planes, bits per pixel).
struct BitmapShape {
    std::int32_t width;
    std::int32_t height;
    std::uint16_t planes;
    std::uint16_t bitsPixel;
};

// The info header's fields, in file order.
struct BitmapInfoFields {
    std::uint32_t size;
    std::int32_t width;
    std::int32_t height; // positive: bottom row first
    std::uint16_t planes;
    std::uint16_t bitCount; // the bitmap's own bits per pixel, not B
    std::uint32_t compression;
    std::uint32_t sizeImage;
    std::int32_t xPelsPerMeter;
    std::int32_t yPelsPerMeter;
    std::uint32_t clrUsed;
    std::uint32_t clrImportant;
};

// Whether a file of this shape can be described at all: its size, and so
// biSizeImage and bfSize, must fit their 32 bits (they would wrap otherwise).
bool bitmapSizesFit(const BitmapShape &shape);

// The header buildBitmapInfo puts in a new record for a bitmap of this shape.
BitmapInfoFields bitmapInfoFields(const BitmapShape &shape);

void encodeInfoHeader(const BitmapInfoFields &fields, std::uint8_t out[BMP_INFO_HEADER_SIZE]);
BitmapInfoFields decodeInfoHeader(const std::uint8_t in[BMP_INFO_HEADER_SIZE]);

// The file header's two computed fields (type and reserved words are fixed).
struct BitmapFileHeader {
    std::uint32_t fileSize;    // bfSize
    std::uint32_t pixelOffset; // bfOffBits
};

// From biSize, biClrUsed and biSizeImage as the record holds them after the pixel fetch.
BitmapFileHeader bitmapFileHeader(const BitmapInfoFields &afterFetch);
void encodeFileHeader(const BitmapFileHeader &header, std::uint8_t out[BMP_FILE_HEADER_SIZE]);
