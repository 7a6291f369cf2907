// The process's console as k614ctl sees it: Ctrl-C as a request to stop, and whether stderr is a terminal.
// Implemented in console_posix.cpp and console_win32.cpp.
#pragma once

// Installs the handlers; stopRequested() is false until one of them ran.
void watchConsoleStop();
bool consoleStopRequested();
bool stderrIsTerminal();
