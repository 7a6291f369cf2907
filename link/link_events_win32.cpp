// Win32 version of the link events: uploadConfirmEvent and the writer's txReadyEvent.
//
// SetEvent and a wait that returns WAIT_OBJECT_0 are full barriers on Windows,
// which gives the release/acquire pair the upload confirmation needs.
#include <windows.h>

#include "link/link_events.h"
#include "link/link_events_win32.h"

HANDLE uploadConfirmEvent = nullptr;
HANDLE txReadyEvent = nullptr;

bool createUploadConfirmEvent()
{
    uploadConfirmEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return uploadConfirmEvent != nullptr;
}

void destroyUploadConfirmEvent()
{
    if (uploadConfirmEvent)
        CloseHandle(uploadConfirmEvent);
    uploadConfirmEvent = nullptr;
}

void signalUploadConfirm()
{
    if (uploadConfirmEvent)
        SetEvent(uploadConfirmEvent);
}

void resetUploadConfirm()
{
    if (uploadConfirmEvent)
        ResetEvent(uploadConfirmEvent);
}

bool waitUploadConfirm(unsigned timeoutMs)
{
    // Without an event every wait counts as no reply at once.
    if (!uploadConfirmEvent)
        return false;
    return WaitForSingleObject(uploadConfirmEvent, timeoutMs) == WAIT_OBJECT_0;
}

void signalTxReady()
{
    // No port connection: the bytes only wait in the ring for the next writer.
    if (txReadyEvent)
        SetEvent(txReadyEvent);
}
