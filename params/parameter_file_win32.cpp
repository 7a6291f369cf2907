// Reading and writing the 88-byte parameter block of a .614 file.
#include <windows.h>

#include "app/result_codes.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_set.h"

long readParameterBlock(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<long>(GetLastError());
    // A short file (the empty one the open dialog creates for a new name among
    // them) must not leave a half-overwritten set that is then sent to the device.
    ParameterSet loaded;
    DWORD done = 0;
    const BOOL ok = ReadFile(file, &loaded, PARAMETER_FILE_SIZE, &done, nullptr);
    const DWORD readError = ok ? 0 : GetLastError();
    CloseHandle(file);
    if (!ok)
        return static_cast<long>(readError);
    if (done < PARAMETER_FILE_SIZE)
        return ERR_NOT_PARAMETER_FILE;
    replaceDeviceParameters(loaded);
    return 0;
}

long writeParameterBlock(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<long>(GetLastError());
    ParameterSet saved;
    copyDeviceParameters(&saved);
    DWORD done = 0;
    long result = 0;
    if (!WriteFile(file, &saved, PARAMETER_FILE_SIZE, &done, nullptr) || done < PARAMETER_FILE_SIZE)
        result = ERR_SHORT_IO;
    CloseHandle(file);
    return result;
}
