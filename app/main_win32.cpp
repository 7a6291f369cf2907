// Program entry: common controls, settings defaults, window class, main window and message loop.
#include <windows.h>

#include <commctrl.h>

#include "app/main_window_win32.h"
#include "app/resource.h"
#include "base/settings.h"
#include "base/shell_messages.h"
#include "link/link_events.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    appInstance = instance;
    InitCommonControls(); // the property sheet needs them
    setSettingsDefaults();
    LoadStringA(instance, IDS_APP_TITLE, captionText, sizeof captionText);
    LoadStringA(instance, IDS_CLASS_NAME, classNameText, sizeof classNameText);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_GRAYTEXT + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    wc.lpszClassName = classNameText;
    RegisterClassExA(&wc);

    // Client area 960 wide; fixed size, no maximize box.
    const int width = 960 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = 380 + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    // The event exists before WM_CREATE starts the port's reader thread, which
    // signals it: the reader never sees the handle change under it. A failure
    // is reported once the window that owns the message box exists.
    const bool eventCreated = createUploadConfirmEvent();
    const long eventError = eventCreated ? 0 : static_cast<long>(GetLastError());

    // WM_CREATE runs inside this call and already sets mainWindow.
    HWND window = CreateWindowExA(0, classNameText, captionText, WS_SYSMENU | WS_MINIMIZEBOX, x, y, width, height,
                                  nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;
    mainWindow = window;
    if (!eventCreated) {
        char message[CODE_MESSAGE_SIZE];
        formatCodeMessage(message, sizeof message, MSG_EVENT_FAILED, eventError);
        MessageBoxA(mainWindow, message, captionText, MB_OK | MB_ICONWARNING);
    }
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    // No accelerator table: the menus are reached with Alt and their underlined letters.
    MSG msg = {};
    // GetMessageA returns -1 on failure, which would spin for ever: leave then too.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
