// Standard-library version of the link events, for the native build and its tests.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "link/link_events.h"
#include "link/link_events_std.h"

namespace {
std::mutex eventMutex;
std::condition_variable eventChanged;
bool uploadSignalled = false;
bool uploadEventExists = false;
unsigned txReadyCount = 0;
} // namespace

bool createUploadConfirmEvent()
{
    std::lock_guard lock(eventMutex);
    uploadEventExists = true;
    uploadSignalled = false;
    return true;
}

void destroyUploadConfirmEvent()
{
    std::lock_guard lock(eventMutex);
    uploadEventExists = false;
}

void signalUploadConfirm()
{
    {
        std::lock_guard lock(eventMutex);
        uploadSignalled = true;
    }
    eventChanged.notify_all();
}

void resetUploadConfirm()
{
    std::lock_guard lock(eventMutex);
    uploadSignalled = false;
}

bool waitUploadConfirm(unsigned timeoutMs)
{
    std::unique_lock lock(eventMutex);
    if (!uploadEventExists)
        return false;
    return eventChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return uploadSignalled; });
}

void signalTxReady()
{
    std::lock_guard lock(eventMutex);
    ++txReadyCount;
}

bool uploadConfirmSignalled()
{
    std::lock_guard lock(eventMutex);
    return uploadSignalled;
}

unsigned txReadySignals()
{
    std::lock_guard lock(eventMutex);
    return txReadyCount;
}
