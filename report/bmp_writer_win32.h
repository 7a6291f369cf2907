// The BMP writer (Win32): the description record, the Save As dialog, the file of a captured bitmap.
#pragma once

#include <windows.h>

#include "fileio/replacing_file.h"
#include "report/bmp_dump.h"
#include "report/scoped_win32.h"

// A new description record of the bitmap (LocalAlloc: the caller frees it
// with LocalFree), or nullptr after a failure already reported to the user.
BITMAPINFO *buildBitmapInfo(HWND owner, HBITMAP bitmap);

// The Save As dialog for a .bmp file, then the creation of the temporary file
// that replaces the chosen one once the dump is whole (an existing file is
// left alone until then). Returns 0 with *file open for writing, 0 with
// *file not open when the user cancelled, else the dialog's extended error
// or the system's code of the creation.
long chooseBitmapFile(HWND owner, ReplacingFile *file);

// Asks for the file and writes the bitmap held by memoryDc, as described by
// info, into it. Reports its own failures in boxes owned by owner.
void writeBitmapFile(HWND owner, BITMAPINFO *info, HBITMAP bitmap, HDC memoryDc);

// What one dump works on; the file is the one chooseBitmapFile created.
struct BitmapDumpTarget {
    HWND owner;
    HBITMAP bitmap;
    HDC memoryDc;
    ReplacingFile file;
};

// The system calls behind the portable writer, working on target. The tests
// put their own file choice and message recorder in place of the dialog and
// the boxes.
BitmapDumpOps bitmapDumpOps(BitmapDumpTarget *target);
