// The service manager's notifications (READY=1, STATUS=, WATCHDOG=1, STOPPING=1): datagrams to $NOTIFY_SOCKET.
#pragma once

#include <cstdint>

// Sends one message (lines "KEY=value" separated by '\n') to the socket that NOTIFY_SOCKET names: a path, or an
// abstract socket when it starts with '@'. True when it was sent; false when NOTIFY_SOCKET is unset or empty
// (not started by a service manager: nothing is sent) or the send failed.
bool notifyServiceManager(const char *message);

// How often WATCHDOG=1 is due: half the WATCHDOG_USEC the service manager set, so one late ping is not yet a
// missed one; 0 when there is no watchdog (unset, or set for another process by WATCHDOG_PID).
std::int64_t serviceWatchdogIntervalMs();
