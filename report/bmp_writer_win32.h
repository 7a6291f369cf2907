// The BMP writer (Win32): the description record, the Save As dialog, the file of a captured bitmap.
#pragma once

#include <windows.h>

#include "report/bmp_dump.h"
#include "report/scoped_win32.h"

// A new description record of the bitmap (LocalAlloc: the caller frees it
// with LocalFree), or nullptr after a failure already reported to the user.
BITMAPINFO *buildBitmapInfo(HWND owner, HBITMAP bitmap);

// The Save As dialog for a .bmp file, then the file's creation (an existing
// one is emptied). Returns 0 with *file open for writing, 0 with *file
// INVALID_HANDLE_VALUE when the user cancelled, else the dialog's extended
// error or the system's code of the creation.
long chooseBitmapFile(HWND owner, HANDLE *file);

// Asks for the file and writes the bitmap held by memoryDc, as described by
// info, into it. Reports its own failures in boxes owned by owner.
void writeBitmapFile(HWND owner, BITMAPINFO *info, HBITMAP bitmap, HDC memoryDc);

// What one dump works on; the file is the one chooseBitmapFile created.
struct BitmapDumpTarget {
    HWND owner;
    HBITMAP bitmap;
    HDC memoryDc;
    ScopedFile file;
};

// The system calls behind the portable writer, working on target. The tests
// put their own file choice and message recorder in place of the dialog and
// the boxes.
BitmapDumpOps bitmapDumpOps(BitmapDumpTarget *target);
