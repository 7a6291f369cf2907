// The .614 parameter file read and written with the C library: exactly the 88 bytes of a ParameterSet.
#pragma once

#include <cstddef>
#include <cstdio>

#include "fileio/replacing_file.h"
#include "params/parameter_layout.h"

// Room for a reason such as "/some/path: not a parameter file (12 bytes, 88 needed)".
inline constexpr std::size_t FILE_MESSAGE_SIZE = 512;

// Reads the first 88 bytes of path into *out. A missing or unreadable file,
// anything but a regular file (a directory, a FIFO, a device), or a file
// shorter than 88 bytes is refused with a one-line reason (no newline) and
// leaves *out untouched. Nothing checks the values here: see firstFieldOutOfRange.
bool loadParameterFile(const char *path, ParameterSet *out, char *reason, std::size_t reasonSize);

// Writes the 88 bytes through ops as the whole new content of path (a
// temporary file beside it that takes its name once whole); false with a
// reason when that failed, and then an old file is as it was and a new name
// is not left behind.
bool saveParameterFile(const FileReplaceOps &ops, const char *path, const ParameterSet &set, char *reason,
                       std::size_t reasonSize);

// A FILE opened for one command; closed on every way out of it.
class ScopedFile {
public:
    // No path, no file: get() is nullptr.
    ScopedFile(const char *path, const char *mode) : file_(path ? std::fopen(path, mode) : nullptr) {}
    // Takes over a file opened elsewhere (or nullptr).
    explicit ScopedFile(std::FILE *file) : file_(file) {}
    ~ScopedFile()
    {
        if (file_)
            std::fclose(file_);
    }
    ScopedFile(const ScopedFile &) = delete;
    ScopedFile &operator=(const ScopedFile &) = delete;
    std::FILE *get() const { return file_; }
    // Closes now and says whether everything buffered reached the file.
    bool close()
    {
        const bool ok = file_ && std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    std::FILE *file_;
};
