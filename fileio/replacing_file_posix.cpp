// The replacing file on POSIX: mkstemp beside the target, write, fsync, close, rename.
#include "fileio/replacing_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A failure must never read as success.
long failureCode(int code)
{
    return code != 0 ? code : EIO;
}

long lastErrno()
{
    return failureCode(errno);
}

// The new file gets the old one's permissions, or those a plain create would
// give (mkstemp makes it readable by its owner only).
int replace_mode(const char *target)
{
    struct stat st;
    if (stat(target, &st) == 0)
        return static_cast<int>(st.st_mode & 07777);
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<int>(0666 & ~mask);
}

} // namespace

long ReplacingFile::begin(const char *target)
{
    discard();
    // A hidden name in the target's folder: ".NAME.XXXXXX".
    const char *slash = std::strrchr(target, '/');
    const int folder = slash ? static_cast<int>(slash - target + 1) : 0;
    const int made = std::snprintf(temporary_, sizeof temporary_, "%.*s.%s.XXXXXX", folder, target, target + folder);
    if (made < 0 || static_cast<std::size_t>(made) >= sizeof temporary_ ||
        std::strlen(target) >= sizeof target_)
        return ENAMETOOLONG;
    // An old file that could not be written in place refuses the save, as
    // it did before: the rename would replace it all the same.
    if (access(target, W_OK) != 0 && errno != ENOENT)
        return lastErrno();
    std::strcpy(target_, target);
    const int fd = mkstemp(temporary_);
    if (fd < 0)
        return lastErrno();
    handle_ = fd;
    open_ = true;
    if (fchmod(fd, static_cast<mode_t>(replace_mode(target))) != 0) {
        const long code = lastErrno();
        discard();
        return code;
    }
    return 0;
}

long ReplacingFile::write(const void *bytes, std::uint32_t count)
{
    if (!open_)
        return EBADF;
    const char *at = static_cast<const char *>(bytes);
    std::size_t left = count;
    while (left > 0) {
        const ssize_t done = ::write(static_cast<int>(handle_), at, left);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return lastErrno();
        if (done == 0)
            return ENOSPC;
        at += done;
        left -= static_cast<std::size_t>(done);
    }
    return 0;
}

long ReplacingFile::commit()
{
    if (!open_)
        return EBADF;
    // The content is on the disk before the name points at it; a file system
    // may report a write it could not place only here, or at the close.
    const int fd = static_cast<int>(handle_);
    long code = fsync(fd) == 0 ? 0 : lastErrno();
    open_ = false;
    if (close(fd) != 0 && code == 0)
        code = lastErrno();
    if (code == 0 && std::rename(temporary_, target_) != 0)
        code = lastErrno();
    if (code != 0)
        unlink(temporary_);
    temporary_[0] = '\0';
    return code;
}

void ReplacingFile::discard()
{
    if (!open_)
        return;
    close(static_cast<int>(handle_));
    open_ = false;
    unlink(temporary_);
    temporary_[0] = '\0';
}

void describeFileError(long code, char *text, std::size_t size)
{
    std::snprintf(text, size, "%s", std::strerror(static_cast<int>(code)));
}
