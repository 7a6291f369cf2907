// The .614 parameter file through stdio: load with the program's refusal of a short file, save the 88 bytes.
#include "cli/parameter_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

// A directory opens for reading on some systems and then reads nothing:
// say what it is rather than "0 bytes".
static bool parameterFile_isDirectory(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

bool loadParameterFile(const char *path, ParameterSet *out, char *reason, std::size_t reasonSize)
{
    if (parameterFile_isDirectory(path)) {
        std::snprintf(reason, reasonSize, "%s: is a directory, not a parameter file", path);
        return false;
    }
    ScopedFile file(path, "rb");
    if (!file.get()) {
        std::snprintf(reason, reasonSize, "%s: cannot open (%s)", path, std::strerror(errno));
        return false;
    }
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
