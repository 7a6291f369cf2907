// The replacing file on Win32: GetTempFileNameA beside the target, WriteFile, flush, close, MoveFileExA.
#include "fileio/replacing_file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// A failure must never read as success.
long failureCode(DWORD code)
{
    return code != 0 ? static_cast<long>(code) : static_cast<long>(ERROR_GEN_FAILURE);
}

long lastError()
{
    return failureCode(GetLastError());
}

// Short for "K614" in the temporary file's name (GetTempFileNameA takes three letters).
constexpr char TEMPORARY_PREFIX[] = "k61";

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

long ReplacingFile::begin(const char *target)
{
    discard();
    if (std::strlen(target) >= sizeof target_)
        return ERROR_FILENAME_EXCED_RANGE;
    // An old file that could not be written in place (read-only, or held open
    // by another program) refuses the save now, with the code a write in
    // place would have met, rather than after the new content is written.
    HANDLE old = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old != INVALID_HANDLE_VALUE)
        CloseHandle(old);
    else if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return lastError();
    std::strcpy(target_, target);
    // The folder of the target, from its full name: the temporary file must
    // be on the same volume for the move to be a rename.
    char folder[REPLACE_PATH_SIZE];
    char *name = nullptr;
    const DWORD length = GetFullPathNameA(target, sizeof folder, folder, &name);
    if (length == 0 || length >= sizeof folder)
        return length == 0 ? lastError() : static_cast<long>(ERROR_FILENAME_EXCED_RANGE);
    if (name)
        *name = '\0';
    // Creates the file empty under a name of its own (k61NNNN.tmp).
    if (GetTempFileNameA(folder, TEMPORARY_PREFIX, 0, temporary_) == 0)
        return lastError();
    HANDLE file = CreateFileA(temporary_, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const long code = lastError();
        DeleteFileA(temporary_);
        temporary_[0] = '\0';
        return code;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    open_ = true;
    return 0;
}

long ReplacingFile::write(const void *bytes, std::uint32_t count)
{
    if (!open_)
        return ERROR_INVALID_HANDLE;
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), bytes, count, &written, nullptr))
        return lastError();
    return written == count ? 0 : static_cast<long>(ERROR_DISK_FULL);
}

long ReplacingFile::commit()
{
    if (!open_)
        return ERROR_INVALID_HANDLE;
    // The content is on the disk before the name points at it; a file system
    // may report a write it could not place only here, or at the close.
    long code = FlushFileBuffers(handleOf(handle_)) ? 0 : lastError();
    open_ = false;
    if (!CloseHandle(handleOf(handle_)) && code == 0)
        code = lastError();
    if (code == 0 && !MoveFileExA(temporary_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        code = lastError();
    if (code != 0)
        DeleteFileA(temporary_);
    temporary_[0] = '\0';
    return code;
}

void ReplacingFile::discard()
{
    if (!open_)
        return;
    CloseHandle(handleOf(handle_));
    open_ = false;
    DeleteFileA(temporary_);
    temporary_[0] = '\0';
}

void describeFileError(long code, char *text, std::size_t size)
{
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(text, size, "error %ld", code);
        return;
    }
    // The system's texts end in a full stop and a line break: one line here.
    std::size_t end = length;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' || text[end - 1] == '.'))
        --end;
    text[end] = '\0';
}
