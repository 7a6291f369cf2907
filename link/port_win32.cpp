// Serial port connection (Win32): opening the COM port, its reader and writer threads, closing it.
#include "link/port_win32.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/link_events_win32.h"
#include "link/transmit.h"

// The one port connection. GUI thread only, except the handles that the
// workers read while they run (set before they start, cleared after they end)
// and readFailed, which the reader sets.
struct PortConnection {
    HANDLE port;
    PortBytesSink onBytes; // the reader's receiver of each 4-byte block
    HANDLE stopReaderEvent;
    HANDLE stopWriterEvent;
    HANDLE readerThread;
    DWORD readerThreadId;
    HANDLE writerThread;
    DWORD writerThreadId;
    std::atomic<bool> readFailed;
};

static PortConnection connection;

static constexpr DWORD PORT_QUEUE_SIZE = 1500;
static constexpr DWORD READ_SIZE = 4;
// A read that fails is requested again this many times, with a pause in
// between, before the reader gives up on the port.
static constexpr int READ_ATTEMPTS = 4;
static constexpr DWORD READ_RETRY_PAUSE_MS = 50;

bool portIsOpen()
{
    return connection.port != nullptr;
}

bool portReadFailed()
{
    return connection.readFailed.load(std::memory_order_acquire);
}

// ---- reader thread ----------------------------------------------------------

enum class ReadStep { Again, Pending, Failed, Stopped, Broken };

// A completed read hands its block to the receive path; a block of another
// length than 4 is dropped. Without time-outs a read never completes empty, so
// an empty one counts as a failure: asking again at once could spin.
static ReadStep readerDeliver(const std::uint8_t *buffer, DWORD got)
{
    if (got == READ_SIZE)
        connection.onBytes(buffer, static_cast<int>(got));
    return got == 0 ? ReadStep::Failed : ReadStep::Again;
}

// One read request.
static ReadStep readerRequest(HANDLE port, std::uint8_t *buffer, OVERLAPPED *ov)
{
    DWORD got = 0;
    if (ReadFile(port, buffer, READ_SIZE, &got, ov))
        return readerDeliver(buffer, got);
    return GetLastError() == ERROR_IO_PENDING ? ReadStep::Pending : ReadStep::Failed;
}

// The read is over (or about to go): cancel it and wait until the port has let
// go of the buffer and the event. CancelIoEx gives 995 on Windows and wine;
// CancelIo covers systems without it (the read was issued by this thread).
static void readerCancel(HANDLE port, OVERLAPPED *ov)
{
    if (!CancelIoEx(port, ov) && GetLastError() != ERROR_NOT_FOUND)
        CancelIo(port);
    DWORD got = 0;
    GetOverlappedResult(port, ov, &got, TRUE);
}

// Waits for the pending read or the stop request. A wake-up that finds the
// read still incomplete leaves it pending; the event is reset before the
// question, so a completion right after it still wakes the next wait.
static ReadStep readerAwait(HANDLE port, HANDLE *waitList, std::uint8_t *buffer, OVERLAPPED *ov)
{
    for (;;) {
        const DWORD w = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0) {
            readerCancel(port, ov);
            return ReadStep::Stopped;
        }
        if (w != WAIT_OBJECT_0 + 1) {
            // The wait itself failed: waiting again would fail again at once.
            readerCancel(port, ov);
            return ReadStep::Broken;
        }
        ResetEvent(waitList[1]);
        DWORD got = 0;
        if (GetOverlappedResult(port, ov, &got, FALSE))
            return readerDeliver(buffer, got);
        // Once the other end has gone the read completes with an error (109 under wine).
        if (GetLastError() != ERROR_IO_INCOMPLETE)
            return ReadStep::Failed;
    }
}

// Pause between failed reads; true when a stop request arrived meanwhile.
static bool readerPause(HANDLE stopEvent)
{
    return WaitForSingleObject(stopEvent, READ_RETRY_PAUSE_MS) != WAIT_TIMEOUT;
}

// A port that fails every read at once (a pulled USB adapter: 5 or 22 on
// Windows; a closed pseudo-terminal under wine: 109) would make a reader that
// simply asks again spin at full speed. Failed reads are therefore retried a
// few times with a pause that still listens for the stop request, then the
// reader stops reading, marks the failure and only waits to be stopped.
static DWORD readerRun(HANDLE port, HANDLE stopEvent, HANDLE readEvent)
{
    std::uint8_t buffer[READ_SIZE];
    OVERLAPPED ov;
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = readEvent;
    HANDLE waitList[2] = {stopEvent, readEvent};
    int failures = 0;

    for (;;) {
        ReadStep step = readerRequest(port, buffer, &ov);
        if (step == ReadStep::Pending)
            step = readerAwait(port, waitList, buffer, &ov);
        if (step == ReadStep::Stopped)
            return 1;
        if (step == ReadStep::Broken)
            break;
        if (step == ReadStep::Again) {
            failures = 0;
            continue;
        }
        ClearCommError(port, nullptr, nullptr);
        if (++failures >= READ_ATTEMPTS)
            break;
        if (readerPause(stopEvent))
            return 1;
    }
    connection.readFailed.store(true, std::memory_order_release);
    WaitForSingleObject(stopEvent, INFINITE);
    return 1;
}

static DWORD WINAPI readerThread(LPVOID)
{
    HANDLE port = connection.port;
    HANDLE stopEvent = connection.stopReaderEvent;
    HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!readEvent) {
        connection.readFailed.store(true, std::memory_order_release);
        WaitForSingleObject(stopEvent, INFINITE);
        return 1;
    }
    const DWORD code = readerRun(port, stopEvent, readEvent);
    CloseHandle(readEvent);
    return code;
}

// ---- writer thread ----------------------------------------------------------

// Stops a pending write and waits until the port no longer uses its record and
// buffer. PurgeComm(PURGE_TXABORT) is what aborts it on Windows; under wine it
// only flushes the queue and returns TRUE, which leaves a write on a stopped
// line pending, so the write is cancelled as well (995).
static void writerAbort(HANDLE port, OVERLAPPED *ov)
{
    PurgeComm(port, PURGE_TXABORT);
    if (!CancelIoEx(port, ov) && GetLastError() != ERROR_NOT_FOUND)
        CancelIo(port);
    DWORD sent = 0;
    GetOverlappedResult(port, ov, &sent, TRUE);
}

// Waits for the pending write or the stop request; true when the stop request
// ended it. A wake-up that finds the write still incomplete waits again: the
// record and buffer must not be reused or dropped while the write runs.
static bool writerAwait(HANDLE port, HANDLE *waitList, OVERLAPPED *ov, DWORD count)
{
    for (;;) {
        const DWORD w = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0) {
            writerAbort(port, ov);
            return true;
        }
        if (w != WAIT_OBJECT_0 + 1) {
            // The wait failed: cancel the write and wait for it before the pass ends.
            writerAbort(port, ov);
            return false;
        }
        DWORD sent = 0;
        if (GetOverlappedResult(port, ov, &sent, FALSE)) {
            if (sent < count)
                ClearCommError(port, nullptr, nullptr);
            return false;
        }
        if (GetLastError() != ERROR_IO_INCOMPLETE)
            return false; // failed: its bytes are lost
    }
}

// One drain pass: writes what waits in txRing, one request per batch, while
// writes complete at once. Returns 1 when a stop request ended it, else 0.
static int drainPass(HANDLE port, HANDLE stopEvent)
{
    HANDLE writeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!writeEvent)
        return 0;
    HANDLE waitList[2] = {stopEvent, writeEvent};
    std::uint8_t buffer[TX_RING_SIZE];
    OVERLAPPED ov;
    int result = 0;

    for (;;) {
        const int count = txRingTake(buffer);
        if (count == 0)
            break;
        std::memset(&ov, 0, sizeof ov);
        ov.hEvent = writeEvent;
        DWORD sent = 0;
        if (WriteFile(port, buffer, static_cast<DWORD>(count), &sent, &ov)) {
            if (sent == static_cast<DWORD>(count))
                continue;
            break;
        }
        // Other errors (21 under wine once the device has gone) lose the bytes.
        if (GetLastError() == ERROR_IO_PENDING && writerAwait(port, waitList, &ov, static_cast<DWORD>(count)))
            result = 1;
        // Bytes that arrived meanwhile wait for the next wake-up.
        break;
    }
    CloseHandle(writeEvent);
    return result;
}

static DWORD WINAPI writerThread(LPVOID)
{
    HANDLE port = connection.port;
    HANDLE stopEvent = connection.stopWriterEvent;
    HANDLE readyEvent = txReadyEvent;
    HANDLE waitList[2] = {stopEvent, readyEvent};
    for (;;) {
        const DWORD w = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0)
            return 1;
        if (w != WAIT_OBJECT_0 + 1) {
            // A failed wait would fail again at once; only a stop request is left.
            WaitForSingleObject(stopEvent, INFINITE);
            return 1;
        }
        // Reset before taking bytes, not after the pass: a put that lands while
        // the pass runs sets the event again and gets a pass of its own instead
        // of waiting in the ring for some later put.
        ResetEvent(readyEvent);
        if (drainPass(port, stopEvent))
            return 1;
    }
}

// ---- open and close ---------------------------------------------------------

static HANDLE openDevice(int port)
{
    // "\\.\" lets COM10 and above be opened too; for COM1..COM9 it changes nothing.
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// 8N1 at the given rate, no handshake of any kind, DTR and RTS held off, no
// time-outs (a read completes when all its bytes are there), 1500-byte queues.
static bool configurePort(HANDLE port, unsigned long baudRate)
{
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(port, &dcb))
        return false;
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    if (!SetCommTimeouts(port, &timeouts))
        return false;
    return SetupComm(port, PORT_QUEUE_SIZE, PORT_QUEUE_SIZE) != 0;
}

static bool closeAndClear(HANDLE *h)
{
    bool ok = true;
    if (*h)
        ok = CloseHandle(*h) != 0;
    *h = nullptr;
    return ok;
}

// Stops and waits for whichever workers run, then closes every handle in the
// order events, threads, port. Returns true when every close succeeded.
static bool releaseConnection()
{
    if (connection.stopReaderEvent)
        SetEvent(connection.stopReaderEvent);
    if (connection.stopWriterEvent)
        SetEvent(connection.stopWriterEvent);
    HANDLE threads[2];
    DWORD count = 0;
    if (connection.readerThread)
        threads[count++] = connection.readerThread;
    if (connection.writerThread)
        threads[count++] = connection.writerThread;
    if (count > 0)
        WaitForMultipleObjects(count, threads, TRUE, INFINITE);
    // The writer has ended: from here on what is sent is lost, not kept for the next port.
    detachTransmitWriter();

    bool ok = closeAndClear(&connection.stopReaderEvent);
    ok = closeAndClear(&connection.stopWriterEvent) && ok;
    // No writer is left to wake: signalTxReady must see no event from here on.
    HANDLE ready = txReadyEvent;
    txReadyEvent = nullptr;
    ok = closeAndClear(&ready) && ok;
    ok = closeAndClear(&connection.readerThread) && ok;
    ok = closeAndClear(&connection.writerThread) && ok;
    // The workers have cancelled their own I/O, so nothing is pending on the port now.
    ok = closeAndClear(&connection.port) && ok;
    connection.readerThreadId = 0;
    connection.writerThreadId = 0;
    connection.readFailed.store(false, std::memory_order_release);
    return ok;
}

static bool startWorkers()
{
    connection.stopReaderEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    connection.stopWriterEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    txReadyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!connection.stopReaderEvent || !connection.stopWriterEvent || !txReadyEvent)
        return false;
    connection.readerThread = CreateThread(nullptr, 0, readerThread, nullptr, 0, &connection.readerThreadId);
    if (!connection.readerThread)
        return false;
    connection.writerThread = CreateThread(nullptr, 0, writerThread, nullptr, 0, &connection.writerThreadId);
    return connection.writerThread != nullptr;
}

int openPort(int port, unsigned long baudRate, PortBytesSink onBytes)
{
    if (portIsOpen())
        return 0;
    connection.onBytes = onBytes;
    connection.readFailed.store(false, std::memory_order_release);
    connection.port = openDevice(port);
    if (!connection.port)
        return 0;
    if (!configurePort(connection.port, baudRate)) {
        closeAndClear(&connection.port);
        return 0;
    }
    // A fresh start for this line: nothing left from an earlier one goes out on it.
    attachTransmitWriter();
    if (!startWorkers()) {
        releaseConnection();
        return 0;
    }
    return 1;
}

int closePort()
{
    if (!portIsOpen())
        return 0;
    return releaseConnection() ? 0 : 1;
}
