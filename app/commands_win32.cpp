// WM_COMMAND of the main window: menu items, Reset buttons, ID_PORT_OPENED and the About box.
#include "app/main_window_win32.h"

#include "app/menu_commands.h"
#include "app/parameter_commands.h"
#include "app/port_commands.h"
#include "app/print_ops_win32.h"
#include "app/reply_check.h"
#include "app/resource.h"
#include "app/screen_dump_win32.h"

static INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

bool handleCommand(int id)
{
    const ShellOps &ops = windowShellOps();
    switch (id) {
    case ID_RESET_MAX_PEAK:
    case ID_RESET_MIN_PEAK:
    case ID_RESET_DPDT_PEAK:
        resetPeak(id);
        // The button took the focus with the click; keys belong to the main window.
        SetFocus(mainWindow);
        return true;
    case IDM_ABOUT:
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), mainWindow, aboutDialogProc, 0);
        return true;
    case IDM_EXIT:
        // No WM_CLOSE: the settings were written by each command that changed them.
        DestroyWindow(mainWindow);
        return true;
    case ID_PORT_OPENED:
        // The answer fills deviceParameters and the unit text on the reader thread.
        replyCheck(PORT_OPENED_WAIT_MS);
        return true;
    case IDM_PARAMETERS:
        parametersCommand(windowParameterOps());
        return true;
    case IDM_SAVE_PARAMETERS:
        saveParametersCommand(windowParameterOps());
        return true;
    case IDM_LOAD_PARAMETERS:
        loadParametersCommand(windowParameterOps());
        return true;
    case IDM_PRINT:
        printCommand(windowPrintOps());
        return true;
    case IDM_SCREEN_DUMP:
        screenDumpCommand();
        return true;
    case IDM_ROLL_10S:
    case IDM_ROLL_30S:
    case IDM_ROLL_60S:
        // Erasing requests the full redraw that brings the new time labels.
        if (chooseRollMode(ops, id - IDM_ROLL_10S))
            InvalidateRect(mainWindow, nullptr, TRUE);
        return true;
    case IDM_STOP_AT_ALARM:
        toggleStopAtAlarm(ops);
        return true;
    case IDM_AUTO_CONNECT:
        autoConnect(ops);
        return true;
    default:
        if (id >= IDM_COM1 && id < IDM_COM1 + PORT_COUNT) {
            choosePort(ops, id - IDM_COM1 + 1);
            return true;
        }
        return false;
    }
}
