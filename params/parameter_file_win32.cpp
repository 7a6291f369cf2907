// The .614 parameter file (Win32): save and open dialogs, and reading and writing its 88-byte block.
#include <windows.h>

#include <commdlg.h>

#include "base/result_codes.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_save.h"
#include "params/parameter_set.h"

long readParameterBlock(const char *path, ParameterSet *loaded)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<long>(GetLastError());
    // A short file (the empty one the open dialog creates for a new name among
    // them) must not leave a half-overwritten set that is then sent to the device.
    ParameterSet block;
    DWORD done = 0;
    const BOOL ok = ReadFile(file, &block, PARAMETER_FILE_SIZE, &done, nullptr);
    const DWORD readError = ok ? 0 : GetLastError();
    CloseHandle(file);
    if (!ok)
        return static_cast<long>(readError);
    if (done < PARAMETER_FILE_SIZE)
        return ERR_NOT_PARAMETER_FILE;
    *loaded = block;
    return 0;
}

long writeParameterBlock(const char *path)
{
    ParameterSet saved;
    copyDeviceParameters(&saved);
    ReplacingFile file;
    return saveParameterBlock(replacingFileOps(&file), path, saved);
}

// One filter entry; the list ends with an empty pair (the literal's own 0 is
// the second one).
static constexpr char FILE_FILTER[] = "K614 File (*.614)\0*.614\0";
static constexpr char FILE_EXTENSION[] = "614";
static constexpr DWORD FILE_NAME_SIZE = 256;
static constexpr DWORD SAVE_FLAGS = OFN_OVERWRITEPROMPT;
// A name that does not exist is offered for creation; readParameterBlock then
// creates it empty and finds it short.
static constexpr DWORD LOAD_FLAGS = OFN_CREATEPROMPT | OFN_HIDEREADONLY;

// The save and open dialogs differ only in their flags: no initial folder,
// no title (the system's own) and no file title.
static OPENFILENAMEA fileDialog(HWND owner, char (&path)[FILE_NAME_SIZE], DWORD flags)
{
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = FILE_FILTER;
    dialog.nFilterIndex = 0;
    path[0] = '\0';
    dialog.lpstrFile = path;
    dialog.nMaxFile = FILE_NAME_SIZE;
    dialog.Flags = flags;
    dialog.lpstrDefExt = FILE_EXTENSION;
    return dialog;
}

long saveParameterFile(HWND owner)
{
    char path[FILE_NAME_SIZE];
    OPENFILENAMEA dialog = fileDialog(owner, path, SAVE_FLAGS);
    // No file: 0 when the user cancelled, the dialog's error code otherwise.
    if (!GetSaveFileNameA(&dialog))
        return static_cast<long>(CommDlgExtendedError());
    return writeParameterBlock(path);
}

long loadParameterFile(HWND owner, ParameterSet *loaded)
{
    char path[FILE_NAME_SIZE];
    OPENFILENAMEA dialog = fileDialog(owner, path, LOAD_FLAGS);
    if (!GetOpenFileNameA(&dialog)) {
        const DWORD error = CommDlgExtendedError();
        return error == 0 ? ERR_LOAD_CANCELLED : static_cast<long>(error);
    }
    return readParameterBlock(path, loaded);
}
