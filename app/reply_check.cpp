// replyCheck: the one wait pattern for the device's answer to an upload request.
#include "app/reply_check.h"

#include <chrono>
#include <thread>

#include "app/code_dispatch.h"
#include "link/link_events.h"
#include "link/transmit.h"

bool replyCheck(unsigned timeoutMs)
{
    requestUpload();
    resetUploadConfirm();
    const bool answered = waitUploadConfirm(timeoutMs);
    resetUploadConfirm();
    return answered;
}

bool awaitUploadAnswer(unsigned timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    beginUploadAnswer();
    if (!replyCheck(timeoutMs))
        return false;
    for (;;) {
        if (wholeUploadAnswerSeen())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(ANSWER_POLL_MS));
    }
}
