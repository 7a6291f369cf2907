// The main window's services for the commands: port, device wait, check marks, messages, settings, cursor.
#include "app/code_dispatch.h"
#include "app/main_window_win32.h"

#include "app/port_commands.h"
#include "app/reply_check.h"
#include "app/resource.h"
#include "app/settings_file_win32.h"
#include "base/shell_messages.h"
#include "link/port_win32.h"

void showErrorCode(const char *text, long code)
{
    char message[CODE_MESSAGE_SIZE];
    formatCodeMessage(message, sizeof message, text, code);
    MessageBoxA(mainWindow, message, TITLE_ERROR, MB_OK | MB_ICONERROR);
}

void saveSettings()
{
    const long result = writeSettingsFile();
    if (result != 0)
        showErrorCode(MSG_SETTINGS_FAILED, result);
}

static int openComPort(int port)
{
    return openPort(port, PORT_BAUD_RATE, receiveBytes);
}

static void closeComPort()
{
    closePort();
}

static void setMenuCheck(int id, bool checked)
{
    CheckMenuItem(GetMenu(mainWindow), static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

static void showWarning(const char *text)
{
    MessageBoxA(mainWindow, text, TITLE_COMMUNICATION, MB_OK | MB_ICONWARNING);
}

static void postPortOpened()
{
    PostMessageA(mainWindow, WM_COMMAND, ID_PORT_OPENED, 0);
}

static void setBusyCursor(bool busy)
{
    SetCursor(LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

const ShellOps &windowShellOps()
{
    static const ShellOps ops = {openComPort,  closeComPort, replyCheck,     setMenuCheck,
                                 showWarning, saveSettings, postPortOpened, setBusyCursor};
    return ops;
}
