// The BMP writer (Win32): GetObjectA, LocalAlloc, Save As, GetDIBits and the replacing file under the portable writer.
#include "report/bmp_writer_win32.h"

#include <commdlg.h>

// One filter entry; the list ends with an empty pair (the literal's own 0 is
// the second one).
static constexpr char BMP_FILTER[] = "Bitmap File (*.bmp)\0*.bmp\0";
static constexpr char BMP_EXTENSION[] = "bmp";
static constexpr DWORD BMP_NAME_SIZE = 256;

static BitmapDumpTarget &targetOf(void *context)
{
    return *static_cast<BitmapDumpTarget *>(context);
}

static bool dump_readShape(void *context, BitmapShape *shape)
{
    BITMAP bitmap = {};
    if (GetObjectA(targetOf(context).bitmap, sizeof bitmap, &bitmap) != sizeof bitmap)
        return false;
    *shape = {static_cast<std::int32_t>(bitmap.bmWidth), static_cast<std::int32_t>(bitmap.bmHeight),
              bitmap.bmPlanes, bitmap.bmBitsPixel};
    return true;
}

static std::uint8_t *dump_allocateRecord(void *, std::uint32_t bytes)
{
    return static_cast<std::uint8_t *>(LocalAlloc(LPTR, bytes));
}

static long dump_chooseFile(void *context, bool *created)
{
    BitmapDumpTarget &target = targetOf(context);
    const long result = chooseBitmapFile(target.owner, &target.file);
    *created = target.file.isOpen();
    return result;
}

static std::uint8_t *dump_allocatePixels(void *, std::uint32_t bytes)
{
    // GMEM_FIXED: the handle is the block's address.
    return static_cast<std::uint8_t *>(GlobalAlloc(GMEM_FIXED, bytes));
}

static void dump_releasePixels(void *, std::uint8_t *pixels)
{
    GlobalFree(pixels);
}

// Also fills the record's colour table for 1, 4 and 8 bits per pixel.
static bool dump_fetchPixels(void *context, std::uint8_t *record, std::uint8_t *pixels, std::int32_t lines)
{
    const BitmapDumpTarget &target = targetOf(context);
    return GetDIBits(target.memoryDc, target.bitmap, 0, static_cast<UINT>(lines), pixels,
                     reinterpret_cast<BITMAPINFO *>(record), DIB_RGB_COLORS) != 0;
}

static bool dump_writeFile(void *context, const std::uint8_t *bytes, std::uint32_t count)
{
    return targetOf(context).file.write(bytes, count) == 0;
}

static bool dump_commitFile(void *context)
{
    return targetOf(context).file.commit() == 0;
}

static void dump_discardFile(void *context)
{
    targetOf(context).file.discard();
}

static void dump_showMessage(void *context, const char *title, const char *text)
{
    MessageBoxA(targetOf(context).owner, text, title, MB_OK | MB_ICONERROR);
}

BitmapDumpOps bitmapDumpOps(BitmapDumpTarget *target)
{
    return {target,          dump_readShape,   dump_allocateRecord, dump_chooseFile,
            dump_allocatePixels, dump_fetchPixels, dump_writeFile,      dump_commitFile,
            dump_discardFile,    dump_releasePixels, dump_showMessage};
}

BITMAPINFO *buildBitmapInfo(HWND owner, HBITMAP bitmap)
{
    BitmapDumpTarget target = {owner, bitmap, nullptr, {}};
    return reinterpret_cast<BITMAPINFO *>(buildBitmapRecord(bitmapDumpOps(&target)));
}

long chooseBitmapFile(HWND owner, ReplacingFile *file)
{
    file->discard();
    char path[BMP_NAME_SIZE] = {};
    OPENFILENAMEA dialog = {};
    // The record without the later extension fields (76 bytes in a 32-bit
    // build): the plain dialog without the places bar.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = BMP_FILTER;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = path;
    dialog.nMaxFile = BMP_NAME_SIZE;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = BMP_EXTENSION;
    // No file: 0 when the user cancelled, the dialog's error code otherwise.
    if (!GetSaveFileNameA(&dialog))
        return static_cast<long>(CommDlgExtendedError());
    return file->begin(path);
}

void writeBitmapFile(HWND owner, BITMAPINFO *info, HBITMAP bitmap, HDC memoryDc)
{
    BitmapDumpTarget target = {owner, bitmap, memoryDc, {}};
    writeBitmapRecord(bitmapDumpOps(&target), reinterpret_cast<std::uint8_t *>(info));
}
