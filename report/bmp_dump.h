// The screen dump's BMP writer without the platform: description record, file choice, write sequence.
//
// The record is a byte block (info header, then room for the colour table)
// that the platform allocates zero-filled and hands to its pixel fetch as it
// is. Every failure is told to the user once, in a box titled "Screen dump";
// a cancelled file choice is no failure and shows nothing.
#pragma once

#include <cstdint>

#include "report/bmp_layout.h"

inline constexpr char TITLE_SCREEN_DUMP[] = "Screen dump";

inline constexpr char MSG_BMP_FORMAT_FAILED[] = "Error retrieving BMP-color format";
inline constexpr char MSG_BMP_CREATE_FAILED[] = "Error creating the BMP-file"; // with the code
inline constexpr char MSG_BMP_ALLOCATE_FAILED[] = "Error allocating memory for bitmap";
inline constexpr char MSG_BMP_FETCH_FAILED[] = "Error retrieving color table information";
inline constexpr char MSG_BMP_WRITE_FAILED[] = "Error Writing file to disc";
inline constexpr char MSG_BMP_CLOSE_FAILED[] = "Error closing file...";

// The platform's side of one dump. context is handed back to every call.
struct BitmapDumpOps {
    void *context;
    bool (*readShape)(void *context, BitmapShape *shape);          // the bitmap's own description
    std::uint8_t *(*allocateRecord)(void *context, std::uint32_t bytes); // zero-filled, or nullptr
    // The save dialog and the creation of the file that will replace the
    // chosen one (fileio/replacing_file.h): 0 with *created set when it is
    // open for writing, 0 without it when the user cancelled, else the
    // dialog's extended error or the system's code of the creation.
    long (*chooseFile)(void *context, bool *created);
    std::uint8_t *(*allocatePixels)(void *context, std::uint32_t bytes); // or nullptr
    // Reads `lines` rows of the bitmap into pixels in the record's format and
    // fills the record's colour table (and may touch its header).
    bool (*fetchPixels)(void *context, std::uint8_t *record, std::uint8_t *pixels, std::int32_t lines);
    bool (*writeFile)(void *context, const std::uint8_t *bytes, std::uint32_t count); // true: all written
    // Closes the file and puts it in the place of the chosen one in one step;
    // false when that failed, and then nothing of the new file is left.
    bool (*commitFile)(void *context);
    // Closes and removes the file without touching the chosen one.
    void (*discardFile)(void *context);
    void (*releasePixels)(void *context, std::uint8_t *pixels);
    void (*showMessage)(void *context, const char *title, const char *text); // error icon, OK button
};

// A new record for the bitmap, owned by the caller (released the platform's
// way), or nullptr after a failure that has been reported.
std::uint8_t *buildBitmapRecord(const BitmapDumpOps &ops);

// Asks for the file and writes header, record and pixels into it, reporting
// its own failures. The record is the one buildBitmapRecord made; its size is
// known again from the depth in its header. The chosen file is replaced only
// by a whole dump: after any failure an existing file is as it was, and a new
// name is not left behind.
void writeBitmapRecord(const BitmapDumpOps &ops, std::uint8_t *record);
