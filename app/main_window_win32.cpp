// Main window procedure: creation, close and destruction, and routing of the other messages.
#include "app/main_window_win32.h"

#include "app/keyboard.h"
#include "app/menu_commands.h"
#include "app/panel_paint_win32.h"
#include "app/port_commands.h"
#include "app/resource.h"
#include "app/settings_file_win32.h"
#include "app/timer_steps.h"
#include "app/ui_state.h"
#include "base/gdi_resources_win32.h"
#include "base/panel_layout.h"
#include "base/shell_messages.h"
#include "link/link_events.h"
#include "link/port_win32.h"

HINSTANCE appInstance;
HWND mainWindow;
char captionText[TEXT_BUFFER_SIZE];
char classNameText[TEXT_BUFFER_SIZE];
HWND resetButtons[RESET_BUTTON_COUNT];
RECT trendUpdateRect;

static void onCreate(HWND window)
{
    // Message boxes shown from here on are owned by this window, before
    // CreateWindowExA has returned its handle.
    mainWindow = window;

    const long result = readSettingsFile();
    if (result != 0)
        showErrorCode(MSG_SETTINGS_FAILED, result);

    const ShellOps &ops = windowShellOps();
    openStartupPort(ops);
    checkViewItems(ops);

    SetTimer(window, TIMER_TICK, TIMER_TICK, nullptr);
    SetTimer(window, TIMER_PANEL, TIMER_PANEL, nullptr);
    SetTimer(window, TIMER_POLL, TIMER_POLL, nullptr);

    createGdiResources();

    for (int i = 0; i < RESET_BUTTON_COUNT; ++i) {
        resetButtons[i] = CreateWindowExA(0, "BUTTON", "Reset", WS_CHILD | WS_VISIBLE, RESET_BUTTON_X,
                                          RESET_BUTTON_Y[i], RESET_BUTTON_WIDTH, RESET_BUTTON_HEIGHT, window,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_RESET_MAX_PEAK + i)),
                                          appInstance, nullptr);
    }

    trendUpdateRect = {TREND_UPDATE_RECT.left, TREND_UPDATE_RECT.top, TREND_UPDATE_RECT.right,
                       TREND_UPDATE_RECT.bottom};
}

static void onClose()
{
    const long result = writeSettingsFile();
    if (result != 0)
        showErrorCode(MSG_SETTINGS_FAILED, result); // same wording for read and write
    KillTimer(mainWindow, TIMER_TICK);
    KillTimer(mainWindow, TIMER_PANEL);
    KillTimer(mainWindow, TIMER_POLL);
}

static void onDestroy()
{
    // The reader thread signals the event: it must have ended before the event goes.
    closePort();
    destroyUploadConfirmEvent();
    deleteGdiResources();
    PostQuitMessage(0);
}

static bool isResetButton(HWND window)
{
    for (HWND button : resetButtons) {
        if (window != nullptr && window == button)
            return true;
    }
    return false;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onCreate(window);
        return 0;
    case WM_CLOSE:
        onClose();
        break;
    case WM_DESTROY:
        onDestroy();
        break;
    case WM_SETFOCUS:
        // The buttons hand the focus back after every click; that is no
        // reason to redraw everything.
        if (!isResetButton(reinterpret_cast<HWND>(wParam)))
            uiState.fullRedrawRequested = 1;
        break;
    case WM_ERASEBKGND:
        // The system is about to wipe part of the window with the class brush.
        uiState.fullRedrawRequested = 1;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paintMainWindow(dc, ps.rcPaint);
        EndPaint(window, &ps);
        break;
    }
    case WM_KEYDOWN:
        keyDown(static_cast<int>(wParam));
        return 0;
    case WM_KEYUP:
        keyUp();
        return 0;
    case WM_COMMAND:
        if (handleCommand(LOWORD(wParam)))
            return 0;
        break;
    case WM_TIMER:
        handleTimer(wParam);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
