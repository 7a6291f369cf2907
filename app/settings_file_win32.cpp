// Settings file "K614Mon.cnf": read-or-create at start-up, write after each change.
#include <windows.h>

#include "app/settings_file_win32.h"
#include "base/result_codes.h"
#include "base/settings.h"

long readSettingsFile()
{
    HANDLE file = CreateFileA(SETTINGS_FILE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<long>(GetLastError());
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    long result = 0;
    DWORD done = 0;
    if (existed) {
        // The bytes that arrive replace the start of the record; a short file
        // leaves the defaults behind them.
        if (!ReadFile(file, &monitorSettings, SETTINGS_FILE_SIZE, &done, nullptr) || done < SETTINGS_FILE_SIZE)
            result = ERR_SHORT_IO;
        sanitizeSettings(&monitorSettings);
    } else {
        if (!WriteFile(file, &monitorSettings, SETTINGS_FILE_SIZE, &done, nullptr) || done < SETTINGS_FILE_SIZE)
            result = ERR_SHORT_IO;
    }
    CloseHandle(file);
    return result;
}

long writeSettingsFile()
{
    HANDLE file = CreateFileA(SETTINGS_FILE_NAME, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<long>(GetLastError());
    long result = 0;
    DWORD done = 0;
    if (!WriteFile(file, &monitorSettings, SETTINGS_FILE_SIZE, &done, nullptr))
        result = static_cast<long>(GetLastError());
    else if (done < SETTINGS_FILE_SIZE)
        result = ERR_SHORT_IO;
    CloseHandle(file);
    return result;
}
