// The replacing file on POSIX: resolve the name, mkstemp beside the real target, write, fsync, close, rename, sync the folder.
#include "fileio/replacing_file.h"
#include "fileio/replacing_file_posix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A short name of the program's own: a target name near the file system's
// limit must not fail only because the temporary one is longer.
constexpr char TEMPORARY_NAME[] = ".k614-XXXXXX";
// Write permission for anyone: a file without it is read-only, to root too.
constexpr mode_t ANY_WRITE = S_IWUSR | S_IWGRP | S_IWOTH;
// What a plain create asks for before the umask takes its bits away.
constexpr mode_t CREATE_MODE = 0666;
constexpr mode_t MODE_BITS = 07777;
// Names of the caller's own descriptors: whatever they reach (a file the
// shell opened with > or >>, a pipe, a terminal) is written through them.
constexpr const char *DESCRIPTOR_NAMES[] = {"/dev/stdout", "/dev/stderr", "/dev/fd/", "/proc/self/fd/"};

int system_open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

const FileSystemCalls SYSTEM_CALLS = {
    ::realpath, ::stat,  ::lstat, ::access, system_open, ::mkstemp, ::fstat,  ::fchown,
    ::fchmod,   ::umask, ::write, ::fsync,  ::close,     ::rename,  ::unlink,
};

// A failure must never read as success.
long failureCode(int code)
{
    return code != 0 ? code : EIO;
}

long lastErrno()
{
    return failureCode(errno);
}

// The mode a plain create gives: the umask takes its bits away from 0666.
mode_t newFileMode(const FileSystemCalls &c)
{
    const mode_t mask = c.umask(0);
    c.umask(mask);
    return CREATE_MODE & ~mask;
}

// The replacement takes the old file's owner and group where the saver may
// give them (root may; a user may keep the group he belongs to), and its
// mode; a set-uid or set-gid bit stays only on a file whose owner or group
// stayed, or a root save would hand out root's rights under a user's bit.
bool replacing_keepOwnerAndMode(const FileSystemCalls &c, int fd, const struct stat &old)
{
    if (c.fchown(fd, old.st_uid, old.st_gid) != 0)
        c.fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    struct stat now;
    if (c.fstat(fd, &now) != 0)
        return false;
    mode_t mode = old.st_mode & MODE_BITS;
    if (now.st_uid != old.st_uid)
        mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    if (now.st_gid != old.st_gid)
        mode &= ~static_cast<mode_t>(S_ISGID);
    return c.fchmod(fd, mode) == 0;
}

bool isDescriptorName(const char *path)
{
    for (const char *name : DESCRIPTOR_NAMES)
        if (std::strncmp(path, name, std::strlen(name)) == 0)
            return true;
    return false;
}

// The folder part of path, with its slash ("" for a bare name).
int folderLength(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? static_cast<int>(slash - path + 1) : 0;
}

} // namespace

const FileSystemCalls &systemFileCalls()
{
    return SYSTEM_CALLS;
}

long ReplacingFile::begin(const char *target)
{
    discard();
    const FileSystemCalls &c = calls_ ? *calls_ : SYSTEM_CALLS;
    if (std::strlen(target) >= sizeof target_)
        return ENAMETOOLONG;
    if (isDescriptorName(target)) {
        std::strcpy(target_, target);
        return openInPlace(0);
    }
    // A link is saved through: the file it names is the one replaced, as an
    // editor does, never the link itself.
    char resolved[PATH_MAX];
    struct stat old;
    bool exists = false;
    if (c.realpath(target, resolved)) {
        if (std::strlen(resolved) >= sizeof target_)
            return ENAMETOOLONG;
        std::strcpy(target_, resolved);
        if (c.stat(target_, &old) != 0)
            return lastErrno();
        exists = true;
    } else if (errno == ENOENT) {
        std::strcpy(target_, target);
        // A link to a name not yet there: the open follows it and creates
        // the file it names.
        struct stat link;
        if (c.lstat(target_, &link) == 0 && S_ISLNK(link.st_mode))
            return openInPlace(O_CREAT);
    } else {
        return lastErrno();
    }
    // A FIFO, a terminal, /dev/null: written as they are, never renamed over
    // (as root a rename would replace the system's node with a plain file).
    // A folder's open fails with EISDIR: refused.
    if (exists && !S_ISREG(old.st_mode))
        return openInPlace(0);
    // An old file that could not be written in place refuses the save, as
    // it did before: the rename would replace it all the same. A file
    // without any write bit is read-only to root as well.
    if (exists && c.access(target_, W_OK) != 0)
        return lastErrno();
    if (exists && (old.st_mode & ANY_WRITE) == 0)
        return EACCES;
    const int folder = folderLength(target_);
    const int made = std::snprintf(temporary_, sizeof temporary_, "%.*s%s", folder, target_, TEMPORARY_NAME);
    if (made < 0 || static_cast<std::size_t>(made) >= sizeof temporary_)
        return ENAMETOOLONG;
    const int fd = c.mkstemp(temporary_);
    if (fd < 0) {
        temporary_[0] = '\0';
        // A folder that takes no new files still lets its writable files be
        // written: in place, as saves were before they replaced.
        if (exists && (errno == EACCES || errno == EPERM))
            return openInPlace(0);
        return lastErrno();
    }
    handle_ = fd;
    open_ = true;
    const bool kept = exists ? replacing_keepOwnerAndMode(c, fd, old) : c.fchmod(fd, newFileMode(c)) == 0;
    if (!kept) {
        const long code = lastErrno();
        discard();
        return code;
    }
    return 0;
}

long ReplacingFile::openInPlace(int createFlag)
{
    const FileSystemCalls &c = calls_ ? *calls_ : SYSTEM_CALLS;
    const int fd = c.open(target_, O_WRONLY | O_TRUNC | createFlag, CREATE_MODE);
    if (fd < 0)
        return lastErrno();
    handle_ = fd;
    open_ = true;
    inPlace_ = true;
    return 0;
}

long ReplacingFile::write(const void *bytes, std::uint32_t count)
{
    if (!open_)
        return EBADF;
    const FileSystemCalls &c = calls_ ? *calls_ : SYSTEM_CALLS;
    const char *at = static_cast<const char *>(bytes);
    std::size_t left = count;
    while (left > 0) {
        const ssize_t done = c.write(static_cast<int>(handle_), at, left);
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
    const FileSystemCalls &c = calls_ ? *calls_ : SYSTEM_CALLS;
    // The content is on the disk before the name points at it; a file system
    // may report a write it could not place only here, or at the close. A
    // FIFO or a device written in place has no disk to sync (EINVAL).
    const int fd = static_cast<int>(handle_);
    long code = 0;
    if (c.fsync(fd) != 0 && !(inPlace_ && errno == EINVAL))
        code = lastErrno();
    open_ = false;
    if (c.close(fd) != 0 && code == 0)
        code = lastErrno();
    if (inPlace_) {
        inPlace_ = false;
        return code;
    }
    if (code == 0 && c.rename(temporary_, target_) != 0)
        code = lastErrno();
    if (code != 0)
        c.unlink(temporary_);
    temporary_[0] = '\0';
    if (code != 0)
        return code;
    // The new name is on the disk too: the folder's entry is synced.
    char folder[REPLACE_PATH_SIZE];
    const int length = folderLength(target_);
    std::snprintf(folder, sizeof folder, "%.*s", length > 0 ? length : 1, length > 0 ? target_ : ".");
    const int dir = c.open(folder, O_RDONLY | O_DIRECTORY, 0);
    if (dir < 0)
        return lastErrno();
    // Some file systems cannot sync a folder at all (EINVAL): nothing lost.
    if (c.fsync(dir) != 0 && errno != EINVAL)
        code = lastErrno();
    c.close(dir);
    return code;
}

void ReplacingFile::discard()
{
    if (!open_)
        return;
    const FileSystemCalls &c = calls_ ? *calls_ : SYSTEM_CALLS;
    c.close(static_cast<int>(handle_));
    open_ = false;
    if (!inPlace_)
        c.unlink(temporary_);
    inPlace_ = false;
    temporary_[0] = '\0';
}

void describeFileError(long code, char *text, std::size_t size)
{
    std::snprintf(text, size, "%s", std::strerror(static_cast<int>(code)));
}
