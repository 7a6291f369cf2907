// The 88-byte parameter block on disk: a .614 file holds exactly deviceParameters.
#pragma once

// Reads the file's first 88 bytes into a scratch block and, only when all 88
// arrived, makes them deviceParameters. Returns 0, ERR_NOT_PARAMETER_FILE for
// a shorter file (deviceParameters untouched), or the system error code.
// The file is opened OPEN_ALWAYS, so a missing name is created empty.
long readParameterBlock(const char *path);

// Writes the 88 bytes of deviceParameters, replacing the file. Returns 0,
// ERR_SHORT_IO, or the system error code.
long writeParameterBlock(const char *path);
