// A file saved by replacing its target in one step: written beside it, then put in its place, or thrown away.
//
// A save that fails (a full disk, a lost network share) must not cost the
// user the file that was there: CREATE_ALWAYS or fopen("wb") empties the old
// file before the first byte of the new one is known to fit. So the new
// content goes into a temporary file in the target's folder (the same file
// system, so the last step is a rename), every write and the close are
// checked, and only then does the temporary file take the target's name
// (MoveFileExA on Windows, rename on POSIX), in one step. Any failure removes
// the temporary file and leaves the target exactly as it was; a save to a new
// name that fails leaves nothing behind.
//
// What is replaced is the file the user named and nothing else: a link is
// saved through (the file it names is replaced), the old file's mode and,
// where the saver may, its owner are kept, a file that could not be written
// in place (read-only, to root too) is refused. A target that is not a
// regular file (a FIFO, a device such as /dev/null) is written in place, a
// folder refused; a writable file in a folder that takes no new files is
// written in place, as saves were before they replaced. On Win32 the new
// content, once whole in the temporary file, goes into the old file's own
// file (replacing_file_win32.cpp says why).
//
// One implementation per platform (replacing_file_posix.cpp,
// replacing_file_win32.cpp); the writers' decisions reach it through
// FileReplaceOps, which their tests replace with a scripted fake.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the target's path and the temporary file's.
inline constexpr std::size_t REPLACE_PATH_SIZE = 4096;

// The system calls underneath, on POSIX (replacing_file_posix.h); a test
// hands in a table where one of them fails.
struct FileSystemCalls;

class ReplacingFile {
public:
    ReplacingFile() = default;
    explicit ReplacingFile(const FileSystemCalls *calls) : calls_(calls) {}
    ~ReplacingFile() { discard(); } // what was not committed is thrown away
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Creates the temporary file beside the real target (or opens a target
    // written in place). 0, or the system's code (errno, GetLastError),
    // never 0 for a failure; an existing target that could not be written in
    // place (read-only, or locked) or a folder is refused here.
    long begin(const char *target);
    // Appends count bytes: 0 when all were written, else the system's code
    // (a disk-full code when the system took fewer without saying why).
    long write(const void *bytes, std::uint32_t count);
    // Flushes and closes the temporary file and gives it the target's name,
    // replacing the old file in one step. 0, or the system's code of the step
    // that failed; after a failure the temporary file is gone too.
    long commit();
    // Closes and removes the temporary file; nothing when none is open.
    void discard();
    bool isOpen() const { return open_; }

private:
    const FileSystemCalls *calls_ = nullptr; // nullptr: the system's own
    bool open_ = false;
    bool inPlace_ = false; // writing the target itself: no temporary, no rename
    std::intptr_t handle_ = 0; // a file descriptor, or a HANDLE
    // Win32: the existing target, held open from begin to commit, where the
    // new content goes in the end (its own file keeps its mode under wine).
    std::intptr_t targetHandle_ = 0;
    long openInPlace(int createFlag);
    char target_[REPLACE_PATH_SIZE] = {};
    char temporary_[REPLACE_PATH_SIZE] = {};
};

// The same steps as a table of operations, so that a writer decides what each
// failure means without the file system, and a test scripts the failures.
struct FileReplaceOps {
    void *context;
    long (*begin)(void *context, const char *target);
    long (*write)(void *context, const void *bytes, std::uint32_t count);
    long (*commit)(void *context);
    void (*discard)(void *context);
};

// The system's operations, working on file.
FileReplaceOps replacingFileOps(ReplacingFile *file);

// The system's text for a code that begin, write or commit returned.
void describeFileError(long code, char *text, std::size_t size);
