// Saving the 88-byte parameter block as a .614 file that replaces the old one only once it is whole.
#pragma once

#include "fileio/replacing_file.h"
#include "params/parameter_layout.h"

// Writes set as the whole new content of path through ops. Returns 0 when
// the file is in place; the system's code when the temporary file could not
// be created or could not replace the old one; ERR_SHORT_IO when the block
// could not be written whole. After any failure the old file is as it was.
long saveParameterBlock(const FileReplaceOps &ops, const char *path, const ParameterSet &set);
