// The COM port choice: start-up open, the "COM &1".."COM &8" items, "&Auto connect" and a failed line.
//
// While the port chosen last could not be opened, comPort holds that port plus
// PORT_FAILED_MARK (11..18); a comPort above 10 therefore means that no port
// connection is open, and every command here keeps that true. A connection
// whose line fails (the cable pulled) is closed and its port marked the same
// way; only then, and until the user picks a port or Auto connect, the port is
// tried again once a second.
#pragma once

#include "app/shell_ops.h"

inline constexpr unsigned long PORT_BAUD_RATE = 9600;
inline constexpr int PORT_COUNT = 8;

// comPort without the failed mark (1..8).
int unmarkedComPort();
bool portFailedMarkSet();
// Communication menu item of a port (the mark taken off).
int comMenuId(int port);

// WM_CREATE: opens the stored port and checks its item.
void openStartupPort(const ShellOps &ops);
// "COM &n": switches the connection to port n (1..8).
void choosePort(const ShellOps &ops, int port);
// "&Auto connect": probes ports 1..8 for the device. Blocks up to 2 s per port.
void autoConnect(const ShellOps &ops);

// TIMER_TICK: readerGaveUp says that the reader has stopped reading because the
// line failed. The connection is then closed and the port marked as a failed
// open would mark it (the check mark stays), and the quiet reopening begins.
// True when it was closed.
bool closeFailedLine(const ShellOps &ops, bool readerGaveUp);
// TIMER_POLL: while the port is marked because its line failed, one attempt to
// reopen it, without a message. On success the mark is gone and the device is
// asked for its parameters, as after a port change. True when it reopened.
bool reopenFailedLine(const ShellOps &ops);
