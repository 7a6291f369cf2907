// A plain blocking serial line for command-line tools: open by name, write, read with a time-out, close.
// The program's own threaded COM port connection is link/port_win32.*; this one has no threads and no state
// beyond its handle and when a wait ends. The platform halves are serial_line_posix.cpp and serial_line_win32.cpp.
#pragma once

#include <cstdint>

// The platform handle (a file descriptor, or a Win32 HANDLE); SERIAL_LINE_CLOSED when not open.
inline constexpr std::intptr_t SERIAL_LINE_CLOSED = -1;

struct SerialLine {
    std::intptr_t handle = SERIAL_LINE_CLOSED;
    // POSIX: the bytes that end a wait (VMIN), and those of the frame under way.
    int wakeBytes = 1;
    int frameBytes = 0;
};

enum class SerialOpenResult { ok, noSuchPort, busy, notSerial, failed };

// Opens name (Linux: a device path such as /dev/ttyUSB0, or the simulator's link; Windows: "COM1".."COM256")
// at 9600 baud, 8 data bits, no parity, 1 stop bit, raw, no flow control, and throws away bytes that arrived
// before. Exclusive where the system allows it: a second open of the same line reports busy.
SerialOpenResult openSerialLine(const char *name, SerialLine *line);

// One line of text for a result, e.g. "no such port", "port busy".
const char *serialOpenResultText(SerialOpenResult result);

// readSerialLine's answer when the line has failed: the cable or adapter is gone, or the device end closed.
inline constexpr int SERIAL_READ_FAILED = -1;

// Waits at most timeoutMs (0: not at all) and returns what has arrived, 1..size bytes; on POSIX a wait
// lasts until the frame under way can be whole (or the time-out, which hands over what did come). 0 on time-out with nothing arrived, and on POSIX also when a signal interrupted the wait, so that the caller can look at
// its flags; SERIAL_READ_FAILED when the line has failed.
int readSerialLine(SerialLine *line, std::uint8_t *buffer, int size, int timeoutMs);

// Writes all count bytes; false when the line has failed or took no byte for SERIAL_WRITE_STALL_MS.
inline constexpr int SERIAL_WRITE_STALL_MS = 5000;
bool writeSerialLine(SerialLine *line, const std::uint8_t *bytes, int count);

// Closes the line if it is open; line->handle is SERIAL_LINE_CLOSED afterwards.
void closeSerialLine(SerialLine *line);
