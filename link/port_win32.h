// Serial port connection: one open COM port with its reader and writer threads.
#pragma once

#include <cstdint>

// Reader thread: every block of bytes read from the line, in line order.
using PortBytesSink = void (*)(const std::uint8_t *bytes, int count);

// Opens "COM<port>" at the given baud rate (8 data bits, no parity, 1 stop
// bit, no handshake) and starts the reader and writer threads; the reader
// hands what it reads to onBytes. Returns 1 when
// the connection is up, 0 otherwise (nothing is left open then). No
// connection may be open when it is called.
int openPort(int port, unsigned long baudRate, PortBytesSink onBytes);

// Stops both threads, waits until they have ended and closes every handle.
// Returns 0 when every close succeeded, 1 otherwise. Does nothing (returns 0)
// when no connection is open.
int closePort();

// True while a port connection is open.
bool portIsOpen();

// True once the reader has stopped reading because the port failed (the
// device was unplugged): the connection stays open until closePort.
bool portReadFailed();
