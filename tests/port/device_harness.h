// What the port tests need around the program: the simulated device's control line and log, and process counters.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// COM port numbers handed over by the test runner's environment; 0 when not set.
int deviceComPort();  // the simulated device (K614_COM_PORT)
int stalledComPort(); // a line that never takes bytes (K614_STALLED_COM_PORT)

// One command line to the simulator's control port; the answer line without
// its newline, or "" when the control port cannot be reached.
std::string simCommand(const std::string &command);
bool simOk(const std::string &command);
// A numeric field "name=<value>" of the simulator's status line; -1 if absent.
long long simStatus(const char *name);

// The simulator's log, read from wine through drive Z:.
std::string simLogText();
// The codes of the "RX <code>" lines after the first `skipBytes` bytes of the log.
std::vector<unsigned> simLogReceived(std::size_t skipBytes);
// How many "EV <event>" lines starting with `event` follow the first `skipBytes` bytes.
int simLogEvents(std::size_t skipBytes, const char *event);

struct ProcessCounters {
    DWORD handles;          // GetProcessHandleCount, else the system handle table's entries for this process
    int threads;            // threads of this process (toolhelp snapshot)
    ULONGLONG cpu100ns;     // kernel + user time
};
ProcessCounters processCounters();

// Seconds since an arbitrary start, for latency figures.
double nowSeconds();

// Polls `done` every millisecond or so until it holds or `timeoutMs` passed.
template <typename F> bool waitFor(F done, DWORD timeoutMs)
{
    const double end = nowSeconds() + timeoutMs / 1000.0;
    while (!done()) {
        if (nowSeconds() > end)
            return done();
        Sleep(1);
    }
    return true;
}
