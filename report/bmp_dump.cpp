// The screen dump's BMP writer: record building and the write sequence with its failure reports.
#include "report/bmp_dump.h"

#include "base/shell_messages.h"

namespace {

// Every box of the writer carries the same title.
void tell(const BitmapDumpOps &ops, const char *text)
{
    ops.showMessage(ops.context, TITLE_SCREEN_DUMP, text);
}

// The pixel buffer, released on every way out; declared before the file so
// that the file is closed first.
class PixelBuffer {
public:
    explicit PixelBuffer(const BitmapDumpOps &ops) : ops_(ops) {}
    ~PixelBuffer()
    {
        if (pixels_)
            ops_.releasePixels(ops_.context, pixels_);
    }
    PixelBuffer(const PixelBuffer &) = delete;
    PixelBuffer &operator=(const PixelBuffer &) = delete;

    bool allocate(std::uint32_t bytes)
    {
        pixels_ = ops_.allocatePixels(ops_.context, bytes);
        return pixels_ != nullptr;
    }
    std::uint8_t *get() const { return pixels_; }

private:
    const BitmapDumpOps &ops_;
    std::uint8_t *pixels_ = nullptr;
};

// The new file, thrown away on every way out but a commit.
class DumpFile {
public:
    explicit DumpFile(const BitmapDumpOps &ops) : ops_(ops) {}
    ~DumpFile()
    {
        if (!committed_)
            ops_.discardFile(ops_.context);
    }
    DumpFile(const DumpFile &) = delete;
    DumpFile &operator=(const DumpFile &) = delete;

    // A failed commit leaves nothing to discard.
    bool commit()
    {
        committed_ = true;
        return ops_.commitFile(ops_.context);
    }

private:
    const BitmapDumpOps &ops_;
    bool committed_ = false;
};

// What the record may hold, known from the depth that sized it.
std::uint32_t recordCapacity(const BitmapInfoFields &built)
{
    return bitmapDepth(std::uint32_t{built.planes} * built.bitCount).recordBytes;
}

void restoreColourCount(std::uint8_t *record, std::uint32_t clrUsed)
{
    BitmapInfoFields fields = decodeInfoHeader(record);
    fields.clrUsed = clrUsed;
    encodeInfoHeader(fields, record);
}

} // namespace

std::uint8_t *buildBitmapRecord(const BitmapDumpOps &ops)
{
    BitmapShape shape;
    if (!ops.readShape(ops.context, &shape)) {
        tell(ops, MSG_BMP_FORMAT_FAILED);
        return nullptr;
    }
    // A shape whose sizes do not fit the header's 32 bits would be written
    // with sizes that wrapped: refused as a format the file cannot carry.
    if (!bitmapSizesFit(shape)) {
        tell(ops, MSG_BMP_FORMAT_FAILED);
        return nullptr;
    }
    const BitmapDepth depth = bitmapDepth(std::uint32_t{shape.planes} * shape.bitsPixel);
    std::uint8_t *record = ops.allocateRecord(ops.context, depth.recordBytes);
    if (!record) {
        // Nothing can be dumped without the record; the user hears it as the
        // memory shortage it is.
        tell(ops, MSG_BMP_ALLOCATE_FAILED);
        return nullptr;
    }
    encodeInfoHeader(bitmapInfoFields(shape), record);
    return record;
}

void writeBitmapRecord(const BitmapDumpOps &ops, std::uint8_t *record)
{
    PixelBuffer pixels(ops);
    bool created = false;
    const long result = ops.chooseFile(ops.context, &created);
    if (result != 0) {
        char message[CODE_MESSAGE_SIZE];
        formatCodeMessage(message, sizeof message, MSG_BMP_CREATE_FAILED, result);
        tell(ops, message);
        return;
    }
    if (!created)
        return; // cancelled

    DumpFile file(ops);
    const BitmapInfoFields built = decodeInfoHeader(record);
    if (!pixels.allocate(built.sizeImage)) {
        tell(ops, MSG_BMP_ALLOCATE_FAILED);
        return;
    }
    if (!ops.fetchPixels(ops.context, record, pixels.get(), built.height)) {
        tell(ops, MSG_BMP_FETCH_FAILED);
        return;
    }

    // The file header follows the record as the fetch left it, with one
    // exception: wine's GetDIBits sets the colour count to 0 at every depth.
    // At 8 bits or fewer 0 means "a full table", and the fetch did fill one;
    // a file written without it would have readers take its first pixels for
    // the palette. So a count the fetch zeroed is the one the record was
    // built with, and the table goes out whole.
    if (decodeInfoHeader(record).clrUsed == 0 && built.clrUsed != 0)
        restoreColourCount(record, built.clrUsed);
    // A fetch that claimed more colours or pixels than the record and the
    // buffer hold would have the writes read past them: such a record is
    // refused as a failed fetch.
    const BitmapInfoFields fetched = decodeInfoHeader(record);
    const std::uint64_t recordOut =
        std::uint64_t{fetched.size} + std::uint64_t{BMP_COLOUR_ENTRY_SIZE} * fetched.clrUsed;
    if (recordOut > recordCapacity(built) || fetched.sizeImage > built.sizeImage) {
        tell(ops, MSG_BMP_FETCH_FAILED);
        return;
    }
    std::uint8_t fileHeader[BMP_FILE_HEADER_SIZE];
    encodeFileHeader(bitmapFileHeader(fetched), fileHeader);
    // The first failed write ends the writing and is told once: on a full
    // disk every later write fails the same way, and three boxes would say no
    // more than one. A file with a part missing never replaces the old one.
    const bool whole = ops.writeFile(ops.context, fileHeader, BMP_FILE_HEADER_SIZE) &&
                       ops.writeFile(ops.context, record, static_cast<std::uint32_t>(recordOut)) &&
                       ops.writeFile(ops.context, pixels.get(), fetched.sizeImage);
    if (!whole)
        tell(ops, MSG_BMP_WRITE_FAILED);
    else if (!file.commit())
        tell(ops, MSG_BMP_CLOSE_FAILED);
}
