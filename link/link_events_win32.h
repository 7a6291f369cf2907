// The Win32 event handles behind the link events.
#pragma once

#include <windows.h>

// Manual-reset, created at start-up; signalled by the reader thread.
extern HANDLE uploadConfirmEvent;
// Manual-reset, owned by the port connection while one is open.
extern HANDLE txReadyEvent;
