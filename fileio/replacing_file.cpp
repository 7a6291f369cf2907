// The replacing file's steps as a table of operations (the platform's part is in the *_posix / *_win32 file).
#include "fileio/replacing_file.h"

static ReplacingFile &fileOf(void *context)
{
    return *static_cast<ReplacingFile *>(context);
}

FileReplaceOps replacingFileOps(ReplacingFile *file)
{
    return {
        file,
        [](void *c, const char *target) { return fileOf(c).begin(target); },
        [](void *c, const void *bytes, std::uint32_t count) { return fileOf(c).write(bytes, count); },
        [](void *c) { return fileOf(c).commit(); },
        [](void *c) { fileOf(c).discard(); },
    };
}
