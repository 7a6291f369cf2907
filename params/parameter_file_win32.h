// The .614 parameter file: the save and open dialogs, and the 88-byte block they write and read.
#pragma once

#include <windows.h>

#include "params/parameter_layout.h"

// Reads the file's first 88 bytes into *loaded, only when all 88 arrived: the
// caller checks the values before they become deviceParameters. Returns 0,
// ERR_NOT_PARAMETER_FILE for a shorter file (*loaded untouched), or the system
// error code. The file is opened OPEN_ALWAYS, so a missing name is created empty.
long readParameterBlock(const char *path, ParameterSet *loaded);

// Writes the 88 bytes of deviceParameters into a temporary file beside path
// and puts it in the place of the old file in one step. Returns 0,
// ERR_SHORT_IO, or the system error code; after a failure the old file is as
// it was, and a new name is not left behind.
long writeParameterBlock(const char *path);

// The save dialog owned by `owner`, then writeParameterBlock. Returns 0 when
// saved or when the user cancelled, else the dialog's extended error or the
// write's result. Shows no message: the command reports every failure once.
long saveParameterFile(HWND owner);

// The open dialog owned by `owner` (a new name is offered for creation), then
// readParameterBlock. Returns 0 when *loaded holds the file's block,
// ERR_LOAD_CANCELLED when the user cancelled, else the dialog's extended
// error or the read's result (ERR_NOT_PARAMETER_FILE for a short file).
long loadParameterFile(HWND owner, ParameterSet *loaded);
