// The .614 parameter file through stdio: load with the program's refusal of a short file, save the 88 bytes.
#include "cli/parameter_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

// Only a regular file holds a parameter block. A FIFO without a writer blocks
// an open for reading (and a read) for ever, a directory opens on some
// systems and reads nothing, and a device may do anything: each is refused by
// what it is, before it is opened.
static bool parameterFile_isRegular(const char *path, unsigned mode, char *reason, std::size_t reasonSize)
{
    const char *kind = nullptr;
    switch (mode & S_IFMT) {
    case S_IFREG:
        return true;
    case S_IFDIR:
        kind = "a directory";
        break;
    case S_IFCHR:
        kind = "a device";
        break;
#ifdef S_IFIFO
    case S_IFIFO:
        kind = "a FIFO";
        break;
#endif
    default:
        kind = "not a regular file";
        break;
    }
    std::snprintf(reason, reasonSize, "%s: is %s, not a parameter file", path, kind);
    return false;
}

// The file opened for reading, or nullptr with a reason. On POSIX the open
// does not block and the opened file is looked at again, so a path replaced
// by a FIFO between the look and the open is refused all the same.
static std::FILE *parameterFile_openRegular(const char *path, char *reason, std::size_t reasonSize)
{
    struct stat st;
    if (stat(path, &st) == 0 && !parameterFile_isRegular(path, st.st_mode, reason, reasonSize))
        return nullptr;
#ifdef _WIN32
    std::FILE *file = std::fopen(path, "rb");
#else
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::FILE *file = nullptr;
    if (fd >= 0) {
        if (fstat(fd, &st) != 0 || !parameterFile_isRegular(path, st.st_mode, reason, reasonSize)) {
            close(fd);
            return nullptr;
        }
        file = fdopen(fd, "rb");
        if (!file) {
            const int error = errno;
            close(fd);
            errno = error;
        }
    }
#endif
    if (!file)
        std::snprintf(reason, reasonSize, "%s: cannot open (%s)", path, std::strerror(errno));
    return file;
}

bool loadParameterFile(const char *path, ParameterSet *out, char *reason, std::size_t reasonSize)
{
    ScopedFile file(parameterFile_openRegular(path, reason, reasonSize));
    if (!file.get())
        return false;
    ParameterSet loaded;
    const std::size_t got = std::fread(&loaded, 1, PARAMETER_FILE_SIZE, file.get());
    if (got < PARAMETER_FILE_SIZE) {
        if (std::ferror(file.get()))
            std::snprintf(reason, reasonSize, "%s: cannot read (%s)", path, std::strerror(errno));
        else
            std::snprintf(reason, reasonSize, "%s: not a parameter file (%zu bytes, %zu needed)", path, got,
                          PARAMETER_FILE_SIZE);
        return false;
    }
    *out = loaded;
    return true;
}

// Which step failed says what the line tells; the system's text says why.
static bool parameterFile_saveFailed(long code, const char *path, const char *step, char *reason,
                                     std::size_t reasonSize)
{
    char why[FILE_MESSAGE_SIZE / 2];
    describeFileError(code, why, sizeof why);
    std::snprintf(reason, reasonSize, "%s: %s (%s)", path, step, why);
    return false;
}

bool saveParameterFile(const FileReplaceOps &ops, const char *path, const ParameterSet &set, char *reason,
                       std::size_t reasonSize)
{
    long code = ops.begin(ops.context, path);
    if (code != 0)
        return parameterFile_saveFailed(code, path, "cannot create", reason, reasonSize);
    code = ops.write(ops.context, &set, PARAMETER_FILE_SIZE);
    if (code != 0) {
        ops.discard(ops.context);
        return parameterFile_saveFailed(code, path, "cannot write", reason, reasonSize);
    }
    code = ops.commit(ops.context);
    if (code != 0)
        return parameterFile_saveFailed(code, path, "cannot save", reason, reasonSize);
    return true;
}
