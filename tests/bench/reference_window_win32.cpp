// Reference for scripts/bench-gui.sh: the least a window can do that repaints
// the trend area as often as K614Mon does. Same client size as the main window
// (960 wide, 380 less the menu bar high, no menu here), a 20 ms timer that
// invalidates the 590 x 265 trend rectangle without erasing, and a paint that
// fills that rectangle with one solid brush. Nothing else.
#include <windows.h>

static constexpr UINT_PTR TIMER_ID = 20;
static constexpr RECT PAINTED = {345, 60, 935, 325};
static HBRUSH fillBrush;

static LRESULT CALLBACK referenceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetTimer(window, TIMER_ID, 20, nullptr);
        return 0;
    case WM_TIMER:
        if (wParam == TIMER_ID) {
            InvalidateRect(window, &PAINTED, FALSE);
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        FillRect(dc, &PAINTED, fillBrush);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_CLOSE:
        KillTimer(window, TIMER_ID);
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    fillBrush = CreateSolidBrush(RGB(210, 210, 210));

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = referenceWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_GRAYTEXT + 1);
    wc.lpszClassName = "K614REFERENCE";
    RegisterClassExA(&wc);

    const DWORD style = WS_SYSMENU | WS_MINIMIZEBOX;
    RECT outer = {0, 0, 960, 380 - GetSystemMetrics(SM_CYMENU)};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "K614 reference window", style,
                                  (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DeleteObject(fillBrush);
    return static_cast<int>(msg.wParam);
}
