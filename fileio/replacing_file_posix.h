// The system calls the replacing file makes on POSIX, as a table a test may replace to make one of them fail.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

struct FileSystemCalls {
    char *(*realpath)(const char *path, char *resolved);
    int (*stat)(const char *path, struct stat *st);
    int (*lstat)(const char *path, struct stat *st);
    int (*access)(const char *path, int mode);
    int (*open)(const char *path, int flags, mode_t mode);
    int (*mkstemp)(char *pattern);
    int (*fstat)(int fd, struct stat *st);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fchmod)(int fd, mode_t mode);
    mode_t (*umask)(mode_t mask);
    ssize_t (*write)(int fd, const void *bytes, size_t count);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char *from, const char *to);
    int (*unlink)(const char *path);
};

// The calls as the system makes them; what ReplacingFile uses unless told otherwise.
const FileSystemCalls &systemFileCalls();
