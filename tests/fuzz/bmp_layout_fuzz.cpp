// libFuzzer target: the BMP depth table, row size, info header and file header for any bitmap shape.
//
// UBSan reports undefined arithmetic; the checks below hold the sizes to
// exact 64-bit arithmetic wherever the 32-bit header fields can hold them.
// A negative width or height gives no pixel bytes (GetObjectA never reports
// one for the window's bitmap).
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "fuzz_input.h"
#include "report/bmp_layout.h"

namespace {

constexpr std::uint64_t U32_MAX = 0xFFFFFFFFu;
static_assert(sizeof(BitmapInfoFields) == BMP_INFO_HEADER_SIZE, "no padding: records compare byte for byte");

int expectedFileBits(std::uint32_t planesTimesBits)
{
    if (planesTimesBits == 0)
        return 4;
    if (planesTimesBits == 1)
        return 1;
    for (int b : {4, 8, 16, 24}) {
        if (planesTimesBits <= static_cast<std::uint32_t>(b))
            return b;
    }
    return 32;
}

void checkDepth(std::uint32_t planesTimesBits)
{
    const BitmapDepth d = bitmapDepth(planesTimesBits);
    check(d.fileBits == expectedFileBits(planesTimesBits));
    const std::uint32_t colours = d.fileBits < 24 ? std::uint32_t{1} << d.fileBits : 0;
    check(d.clrUsed == colours);
    check(d.colourTableBytes == BMP_COLOUR_ENTRY_SIZE * colours);
    check(d.recordBytes == BMP_INFO_HEADER_SIZE + d.colourTableBytes + (d.fileBits == 32 ? BMP_COLOUR_ENTRY_SIZE : 0));
}

// Whole 32-bit words per row; every row holds its pixels with fewer than 32 bits to spare.
std::uint64_t exactRowBytes(std::int32_t width, int fileBits)
{
    const std::uint64_t bits = static_cast<std::uint64_t>(width < 0 ? 0 : width) * static_cast<unsigned>(fileBits);
    return (bits + 31) / 32 * 4;
}

void checkShape(const BitmapShape &shape)
{
    const std::uint32_t planesTimesBits = std::uint32_t{shape.planes} * shape.bitsPixel;
    const BitmapDepth depth = bitmapDepth(planesTimesBits);
    const std::uint64_t row = exactRowBytes(shape.width, depth.fileBits);
    const std::uint32_t rowBytes = bitmapRowBytes(shape.width, depth.fileBits);
    if (row <= U32_MAX) {
        check(rowBytes == row);
        check(rowBytes % 4 == 0);
        const std::uint64_t bits = static_cast<std::uint64_t>(shape.width < 0 ? 0 : shape.width) *
                                   static_cast<unsigned>(depth.fileBits);
        check(std::uint64_t{rowBytes} * 8 >= bits && std::uint64_t{rowBytes} * 8 - bits < 32);
    }
    if (shape.width <= 0)
        check(rowBytes == 0);

    const BitmapInfoFields f = bitmapInfoFields(shape);
    check(f.size == BMP_INFO_HEADER_SIZE);
    check(f.width == shape.width && f.height == shape.height);
    check(f.planes == shape.planes && f.bitCount == shape.bitsPixel);
    check(f.compression == BMP_UNCOMPRESSED);
    check(f.xPelsPerMeter == 0 && f.yPelsPerMeter == 0 && f.clrImportant == 0);
    check(f.clrUsed == depth.clrUsed);
    const std::uint64_t rows = shape.height < 0 ? 0 : static_cast<std::uint64_t>(shape.height);
    if (rows == 0 || row == 0)
        check(f.sizeImage == 0);
    else if (row <= U32_MAX / rows)
        check(f.sizeImage == row * rows);
    // A shape is let through exactly when its whole file's size fits 32 bits,
    // and then the header's sizes are exact.
    const std::uint64_t fileBytes = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE + depth.colourTableBytes + row * rows;
    check(bitmapSizesFit(shape) == (fileBytes <= U32_MAX));
    if (bitmapSizesFit(shape)) {
        check(f.sizeImage == row * rows);
        check(bitmapFileHeader(f).fileSize == fileBytes);
    }

    // The header as encoded reads back field for field.
    std::uint8_t image[BMP_INFO_HEADER_SIZE];
    encodeInfoHeader(f, image);
    const BitmapInfoFields back = decodeInfoHeader(image);
    check(std::memcmp(&back, &f, sizeof f) == 0);
}

// Any 40 bytes as a fetch may leave them: decode and encode are inverse, and
// the file header's sizes are exact wherever they fit 32 bits.
void checkFetchedRecord(const std::uint8_t (&image)[BMP_INFO_HEADER_SIZE])
{
    const BitmapInfoFields f = decodeInfoHeader(image);
    std::uint8_t again[BMP_INFO_HEADER_SIZE];
    encodeInfoHeader(f, again);
    check(std::memcmp(again, image, sizeof image) == 0);

    const BitmapFileHeader h = bitmapFileHeader(f);
    const std::uint64_t offset =
        std::uint64_t{BMP_FILE_HEADER_SIZE} + f.size + std::uint64_t{BMP_COLOUR_ENTRY_SIZE} * f.clrUsed;
    if (offset <= U32_MAX) {
        check(h.pixelOffset == offset);
        if (offset + f.sizeImage <= U32_MAX)
            check(h.fileSize == offset + f.sizeImage);
    }

    std::uint8_t file[BMP_FILE_HEADER_SIZE];
    encodeFileHeader(h, file);
    check(file[0] == 'B' && file[1] == 'M');
    check((file[2] | file[3] << 8 | file[4] << 16 | static_cast<std::uint32_t>(file[5]) << 24) == h.fileSize);
    check(file[6] == 0 && file[7] == 0 && file[8] == 0 && file[9] == 0);
    check((file[10] | file[11] << 8 | file[12] << 16 | static_cast<std::uint32_t>(file[13]) << 24) == h.pixelOffset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    BitmapShape shape;
    shape.width = in.take<std::int32_t>();
    shape.height = in.take<std::int32_t>();
    shape.planes = in.take<std::uint16_t>();
    shape.bitsPixel = in.take<std::uint16_t>();
    checkDepth(std::uint32_t{shape.planes} * shape.bitsPixel);
    checkDepth(in.take<std::uint32_t>());
    checkShape(shape);

    std::uint8_t image[BMP_INFO_HEADER_SIZE];
    in.bytes(image, sizeof image);
    checkFetchedRecord(image);
    return 0;
}
