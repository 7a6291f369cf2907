// The main window's services for the parameter commands: device wait, questions and messages, the sheet and the file dialogs.
#include "app/main_window_win32.h"

#include "app/parameter_commands.h"
#include "app/reply_check.h"
#include "base/shell_messages.h"
#include "params/parameter_file_win32.h"
#include "params/parameter_sheet_win32.h"

static bool askContinue(const char *text)
{
    return MessageBoxA(mainWindow, text, captionText, MB_YESNO | MB_ICONWARNING) == IDYES;
}

static int showSheet()
{
    return showParameterSheet(mainWindow);
}

// Read right after a sheet that could not be created.
static long lastError()
{
    return static_cast<long>(GetLastError());
}

static long loadFile(ParameterSet *loaded)
{
    return loadParameterFile(mainWindow, loaded);
}

static long saveFile()
{
    return saveParameterFile(mainWindow);
}

static void showError(const char *text)
{
    MessageBoxA(mainWindow, text, TITLE_ERROR, MB_OK | MB_ICONERROR);
}

static void showCaptionError(const char *text)
{
    MessageBoxA(mainWindow, text, captionText, MB_OK | MB_ICONERROR);
}

const ParameterOps &windowParameterOps()
{
    static const ParameterOps ops = {awaitUploadAnswer, askContinue, showSheet,     lastError,       loadFile,
                                     saveFile,   showError,   showErrorCode, showCaptionError};
    return ops;
}
