// Serial line for command-line tools (Win32): a COM port opened for plain blocking reads and writes.
#include "link/serial_line.h"

#include <windows.h>

#include <cstdio>

static constexpr int COM_PORT_FIRST = 1;
static constexpr int COM_PORT_LAST = 256;
static constexpr DWORD PORT_QUEUE_SIZE = 1500;
// A byte takes 1.04 ms at 9600 baud; a write may take twice that per byte
// before the stall allowance counts.
static constexpr DWORD WRITE_MS_PER_BYTE = 2;

static HANDLE serial_handle(const SerialLine *line)
{
    return reinterpret_cast<HANDLE>(line->handle);
}

// "COM" and a number 1..256 without leading zeros, any case; the number, or 0.
static int serial_portNumber(const char *name)
{
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' || name[3] < '1' ||
        name[3] > '9')
        return 0;
    int n = 0;
    for (const char *p = name + 3; *p; ++p) {
        if (*p < '0' || *p > '9' || p - name > 5)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n >= COM_PORT_FIRST && n <= COM_PORT_LAST ? n : 0;
}

// 9600 8N1, binary, no handshake of any kind; DTR and RTS simply held on, as
// a terminal would, for adapters that want them. fAbortOnError off: a framing
// error from noise on the line must not stop every later read until someone
// calls ClearCommError.
static bool serial_configure(HANDLE port)
{
    if (!SetupComm(port, PORT_QUEUE_SIZE, PORT_QUEUE_SIZE))
        return false;
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb))
        return false;
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

// Read time-outs, set before each read. The documented "return at the first
// byte, else after the constant" (interval and multiplier MAXDWORD) is not
// what wine does on a pty: it waits for the whole buffer or the constant. So
// the first byte is read alone under a total time-out, which both honour, and
// what followed it is fetched without waiting (interval MAXDWORD alone). A
// total time-out of 0 would mean "wait for ever": never set.
static bool serial_setReadWait(HANDLE port, DWORD waitMs)
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = waitMs > 0 ? 0 : MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = waitMs;
    t.WriteTotalTimeoutMultiplier = WRITE_MS_PER_BYTE;
    t.WriteTotalTimeoutConstant = SERIAL_WRITE_STALL_MS;
    return SetCommTimeouts(port, &t) != 0;
}

// False once the line has gone, else the bytes waiting in *waiting. Under wine
// a read on a pty whose other end has closed keeps timing out without an error;
// ClearCommError fails there (error 21), as it does on Windows for a removed
// adapter.
static bool serial_lineAlive(HANDLE port, DWORD *waiting)
{
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    if (!ClearCommError(port, &errors, &status))
        return false;
    *waiting = status.cbInQue;
    return true;
}

// What has arrived, without waiting.
static int serial_readWaiting(HANDLE port, std::uint8_t *buffer, int size)
{
    DWORD got = 0;
    if (!serial_setReadWait(port, 0) || !ReadFile(port, buffer, static_cast<DWORD>(size), &got, nullptr))
        return SERIAL_READ_FAILED;
    return static_cast<int>(got);
}

SerialOpenResult openSerialLine(const char *name, SerialLine *line)
{
    line->handle = SERIAL_LINE_CLOSED;
    const int number = serial_portNumber(name);
    if (number == 0)
        return SerialOpenResult::noSuchPort;
    // COM10 and above can only be opened through the device namespace; it
    // works for COM1..COM9 too.
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", number);
    // No sharing: Windows refuses a second open with error 5. Wine lets it
    // through, so under wine the line is not exclusive.
    const HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return SerialOpenResult::noSuchPort;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return SerialOpenResult::busy;
        default:
            return SerialOpenResult::failed;
        }
    }
    if (GetFileType(port) != FILE_TYPE_CHAR || !serial_configure(port) || !serial_setReadWait(port, 0)) {
        CloseHandle(port);
        return SerialOpenResult::notSerial;
    }
    line->handle = reinterpret_cast<std::intptr_t>(port);
    return SerialOpenResult::ok;
}

int readSerialLine(SerialLine *line, std::uint8_t *buffer, int size, int timeoutMs)
{
    if (line->handle == SERIAL_LINE_CLOSED)
        return SERIAL_READ_FAILED;
    const HANDLE port = serial_handle(line);
    DWORD waiting = 0;
    if (!serial_lineAlive(port, &waiting))
        return SERIAL_READ_FAILED;
    if (size <= 0)
        return 0;
    if (waiting > 0 || timeoutMs <= 0)
        return serial_readWaiting(port, buffer, size);
    DWORD got = 0;
    if (!serial_setReadWait(port, static_cast<DWORD>(timeoutMs)) || !ReadFile(port, buffer, 1, &got, nullptr))
        return SERIAL_READ_FAILED;
    if (got == 0)
        return serial_lineAlive(port, &waiting) ? 0 : SERIAL_READ_FAILED;
    // Should fetching the rest fail, the byte in hand still counts; the next
    // read reports the failure.
    const int more = size > 1 ? serial_readWaiting(port, buffer + 1, size - 1) : 0;
    return 1 + (more > 0 ? more : 0);
}

bool writeSerialLine(SerialLine *line, const std::uint8_t *bytes, int count)
{
    if (line->handle == SERIAL_LINE_CLOSED)
        return false;
    const HANDLE port = serial_handle(line);
    int done = 0;
    while (done < count) {
        DWORD put = 0;
        if (!WriteFile(port, bytes + done, static_cast<DWORD>(count - done), &put, nullptr))
            return false;
        // A write that ended on its time-out without a byte: the line is stuck.
        if (put == 0)
            return false;
        done += static_cast<int>(put);
    }
    return true;
}

void closeSerialLine(SerialLine *line)
{
    if (line->handle == SERIAL_LINE_CLOSED)
        return;
    CloseHandle(serial_handle(line));
    line->handle = SERIAL_LINE_CLOSED;
}
