// Program entry: settings defaults, window class, main window and message loop.
#include <windows.h>

#include "app/resource.h"
#include "app/settings.h"

static char captionText[100];
static char classNameText[100];
static HWND mainWindow;

static LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
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

    const int width = 960 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = 380 + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    mainWindow = CreateWindowExA(0, classNameText, captionText, WS_SYSMENU | WS_MINIMIZEBOX, x, y, width, height,
                                 nullptr, nullptr, instance, nullptr);
    if (!mainWindow)
        return 0;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
