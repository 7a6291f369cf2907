// The replacing file on Win32: the new content in a temporary file beside the real target, then into the target's own file, or renamed to a new name.
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

// Short for "K614" in the temporary file's name (GetTempFileNameA takes
// three letters): a short name, so a target name near the limit still saves.
constexpr char TEMPORARY_PREFIX[] = "k61";
// What GetFinalPathNameByHandleA puts before a drive letter.
constexpr char LONG_PATH_PREFIX[] = "\\\\?\\";
// The copy from the temporary file into the target, a block at a time.
constexpr DWORD COPY_BLOCK = 16384;

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The folder the target really lives in, with its final backslash: under
// wine a Z:\ name may reach a Linux symbolic link, and the file it names is
// the one saved, so its folder (the same volume) takes the temporary file.
bool replacing_realFolder(HANDLE target, char *folder, DWORD size)
{
    char full[REPLACE_PATH_SIZE];
    const DWORD length = GetFinalPathNameByHandleA(target, full, sizeof full, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof full)
        return false;
    const std::size_t skip = std::strncmp(full, LONG_PATH_PREFIX, sizeof LONG_PATH_PREFIX - 1) == 0
                                 ? sizeof LONG_PATH_PREFIX - 1 : 0;
    char *slash = std::strrchr(full + skip, '\\');
    if (!slash || static_cast<DWORD>(slash - full - skip + 2) > size)
        return false;
    slash[1] = '\0';
    std::strcpy(folder, full + skip);
    return true;
}

// Copies bytes start..end of the temporary file to the same place in the target.
long replacing_copyRange(HANDLE from, HANDLE to, LONGLONG start, LONGLONG end)
{
    LARGE_INTEGER at;
    at.QuadPart = start;
    if (!SetFilePointerEx(from, at, nullptr, FILE_BEGIN) || !SetFilePointerEx(to, at, nullptr, FILE_BEGIN))
        return lastError();
    char block[COPY_BLOCK];
    for (LONGLONG left = end - start; left > 0;) {
        DWORD got = 0;
        if (!ReadFile(from, block, left < COPY_BLOCK ? static_cast<DWORD>(left) : COPY_BLOCK, &got, nullptr))
            return lastError();
        if (got == 0)
            return ERROR_HANDLE_EOF;
        DWORD put = 0;
        if (!WriteFile(to, block, got, &put, nullptr))
            return lastError();
        if (put != got)
            return ERROR_DISK_FULL;
        left -= got;
    }
    return 0;
}

// Cuts the target at length.
bool replacing_cut(HANDLE file, LONGLONG length)
{
    LARGE_INTEGER at;
    at.QuadPart = length;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Puts the whole temporary file into the target. What lies past the old end
// goes first and is flushed: a disk without room for it refuses the save
// with the old content whole (cut back to its length); the rest then only
// overwrites room the old file already had. Wine has no call that reserves
// room (FileAllocationInfo: error 120).
long replacing_copyInto(HANDLE from, HANDLE to)
{
    LARGE_INTEGER wanted, had;
    if (!GetFileSizeEx(from, &wanted) || !GetFileSizeEx(to, &had))
        return lastError();
    if (wanted.QuadPart > had.QuadPart) {
        long code = replacing_copyRange(from, to, had.QuadPart, wanted.QuadPart);
        if (code == 0 && !FlushFileBuffers(to))
            code = lastError();
        if (code != 0) {
            replacing_cut(to, had.QuadPart);
            return code;
        }
    }
    const long code =
        replacing_copyRange(from, to, 0, wanted.QuadPart < had.QuadPart ? wanted.QuadPart : had.QuadPart);
    if (code != 0)
        return code;
    if (!replacing_cut(to, wanted.QuadPart) || !FlushFileBuffers(to))
        return lastError();
    return 0;
}

} // namespace

long ReplacingFile::begin(const char *target)
{
    discard();
    if (std::strlen(target) >= sizeof target_)
        return ERROR_FILENAME_EXCED_RANGE;
    std::strcpy(target_, target);
    // The old file is opened for writing now and held to the end: one that
    // could not be written in place (read-only, held open by another
    // program, a folder) refuses the save here, with the code a write in
    // place would meet; no other program writes it meanwhile.
    HANDLE old = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    char folder[REPLACE_PATH_SIZE];
    if (old != INVALID_HANDLE_VALUE) {
        targetHandle_ = reinterpret_cast<std::intptr_t>(old);
        // Wine lets root open a file without any write bit (read-only to
        // Windows) for writing; it is refused as it is for everyone else.
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(old, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
            discard();
            return ERROR_ACCESS_DENIED;
        }
        // A pipe or a device (NUL, a terminal) is written as it is.
        if (GetFileType(old) != FILE_TYPE_DISK) {
            handle_ = targetHandle_;
            targetHandle_ = 0;
            open_ = true;
            inPlace_ = true;
            return 0;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return lastError();
    }
    if (old == INVALID_HANDLE_VALUE || !replacing_realFolder(old, folder, sizeof folder)) {
        char *name = nullptr;
        const DWORD length = GetFullPathNameA(target, sizeof folder, folder, &name);
        if (length == 0 || length >= sizeof folder) {
            const long code = length == 0 ? lastError() : static_cast<long>(ERROR_FILENAME_EXCED_RANGE);
            discard();
            return code;
        }
        if (name)
            *name = '\0';
    }
    // Creates the file empty under a name of its own (k61NNNN.tmp).
    if (GetTempFileNameA(folder, TEMPORARY_PREFIX, 0, temporary_) == 0) {
        const long code = lastError();
        temporary_[0] = '\0';
        // A folder that takes no new files still lets its writable files be
        // written: in place, as saves were before they replaced.
        if (targetHandle_ != 0 && code == ERROR_ACCESS_DENIED) {
            handle_ = targetHandle_;
            targetHandle_ = 0;
            open_ = true;
            inPlace_ = true;
            return SetEndOfFile(handleOf(handle_)) ? 0 : lastError();
        }
        discard();
        return code;
    }
    HANDLE file = CreateFileA(temporary_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const long code = lastError();
        DeleteFileA(temporary_);
        temporary_[0] = '\0';
        discard();
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

// An old file takes the new content into its own file, once the whole of it
// is on the disk in the temporary file: wine gives a renamed file its own
// default mode (0600 became 0644) and Win32 has no call that sets a Unix
// mode, while the old file keeps its mode, owner and links. The copy needs
// no new room when the size stays (a parameter file, a dump of the same
// window), and a longer one takes its new room first (replacing_copyInto);
// only an I/O error in the copy itself leaves the old file part new, which
// is reported, the temporary file removed.
long ReplacingFile::commit()
{
    if (!open_)
        return ERROR_INVALID_HANDLE;
    // The content is on the disk before the name points at it; a file system
    // may report a write it could not place only here, or at the close. A
    // pipe or a device has nothing to flush.
    HANDLE file = handleOf(handle_);
    long code = FlushFileBuffers(file) || GetFileType(file) != FILE_TYPE_DISK ? 0 : lastError();
    if (code == 0 && targetHandle_ != 0)
        code = replacing_copyInto(file, handleOf(targetHandle_));
    open_ = false;
    if (!CloseHandle(file) && code == 0)
        code = lastError();
    if (targetHandle_ != 0 && !CloseHandle(handleOf(targetHandle_)) && code == 0)
        code = lastError();
    const bool renamed = targetHandle_ == 0 && !inPlace_;
    targetHandle_ = 0;
    inPlace_ = false;
    if (code == 0 && renamed &&
        !MoveFileExA(temporary_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        code = lastError();
    if (temporary_[0] != '\0' && (code != 0 || !renamed))
        DeleteFileA(temporary_);
    temporary_[0] = '\0';
    return code;
}

void ReplacingFile::discard()
{
    if (open_)
        CloseHandle(handleOf(handle_));
    if (targetHandle_ != 0)
        CloseHandle(handleOf(targetHandle_));
    if (open_ && !inPlace_ && temporary_[0] != '\0')
        DeleteFileA(temporary_);
    open_ = false;
    inPlace_ = false;
    targetHandle_ = 0;
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
