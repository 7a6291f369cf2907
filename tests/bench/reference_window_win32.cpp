// Reference for scripts/bench-gui.sh: what the device protocol costs a window
// that shows it, and nothing more. Two parts, as in K614Mon:
//  - a reader thread that opens the same COM port (the number is the first
//    argument, COM1 without one) at the same 8N1 9600 with no time-outs and
//    reads the stream 4 bytes at a time with overlapped ReadFile, the shape of
//    the read loop in link/port_win32.cpp; it only counts what arrives;
//  - the same client size as the main window (960 wide, 380 less the menu bar
//    high, no menu here), a 20 ms timer that invalidates the 590 x 265 trend
//    rectangle without erasing, and a paint that fills that rectangle with one
//    solid brush.
// Without a port the window still runs (the reader thread just ends), so the
// bare repaint can be measured on its own.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static constexpr UINT_PTR TIMER_ID = 20;
static constexpr RECT PAINTED = {345, 60, 935, 325};
static constexpr DWORD READ_SIZE = 4;
static constexpr DWORD PORT_BAUD_RATE = 9600;
static constexpr DWORD PORT_QUEUE_SIZE = 1500;
static HBRUSH fillBrush;

// Reader state: the port and stop event are set before the thread starts and
// closed after it ends; bytesRead is the reader's alone until then.
static HANDLE port;
static HANDLE stopEvent;
static unsigned long long bytesRead;

static HANDLE referenceOpenPort(int number)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = PORT_BAUD_RATE;
    dcb.fBinary = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts) || !SetupComm(h, PORT_QUEUE_SIZE, PORT_QUEUE_SIZE)) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

// The read loop of link/port_win32.cpp without its dispatch and its retries:
// request 4 bytes, wait for them or the stop request, count them, again. A
// read that fails ends the thread (under wine a closed pseudo-terminal fails
// every later read at once, and a reference has no line to recover).
static DWORD WINAPI referenceReader(LPVOID)
{
    HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!readEvent)
        return 1;
    std::uint8_t buffer[READ_SIZE];
    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = readEvent;
    HANDLE waitList[2] = {stopEvent, readEvent};
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(port, buffer, READ_SIZE, &got, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                break;
            bool done = false;
            while (!done) {
                const DWORD w = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
                if (w != WAIT_OBJECT_0 + 1) {
                    if (!CancelIoEx(port, &ov) && GetLastError() != ERROR_NOT_FOUND)
                        CancelIo(port);
                    GetOverlappedResult(port, &ov, &got, TRUE);
                    CloseHandle(readEvent);
                    return 0;
                }
                ResetEvent(readEvent);
                if (GetOverlappedResult(port, &ov, &got, FALSE))
                    done = true;
                else if (GetLastError() != ERROR_IO_INCOMPLETE)
                    break;
            }
            if (!done)
                break;
        }
        if (got == 0)
            break;
        bytesRead += got;
    }
    CloseHandle(readEvent);
    return 1;
}

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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    fillBrush = CreateSolidBrush(RGB(210, 210, 210));

    const int comNumber = commandLine && commandLine[0] ? std::atoi(commandLine) : 1;
    HANDLE reader = nullptr;
    port = referenceOpenPort(comNumber);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (port && stopEvent)
        reader = CreateThread(nullptr, 0, referenceReader, nullptr, 0, nullptr);
    if (!reader)
        std::fprintf(stderr, "reference_window: no reader on COM%d (error %lu)\n", comNumber, GetLastError());

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
    int result = 1;
    if (window) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
        MSG msg = {};
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        result = static_cast<int>(msg.wParam);
    }

    if (reader) {
        SetEvent(stopEvent);
        WaitForSingleObject(reader, INFINITE);
        CloseHandle(reader);
        std::fprintf(stderr, "reference_window: %llu bytes read on COM%d\n", bytesRead, comNumber);
    }
    if (stopEvent)
        CloseHandle(stopEvent);
    if (port)
        CloseHandle(port);
    DeleteObject(fillBrush);
    return result;
}
