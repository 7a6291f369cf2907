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

static constexpr std::uint64_t US_PER_MS = 1000;

bool awaitUploadAnswerOn(const AnswerWaitOps &ops, unsigned timeoutMs)
{
    // The limit is the caller's (the "&Parameters" question, the transfer
    // check on the 20 ms tick): the first code's wait counts against it, and
    // the last poll is cut to what is left rather than overrunning it.
    // Microseconds: a clock in whole milliseconds could count up to one more
    // than has passed and end the wait before its time.
    const std::uint64_t limit = std::uint64_t{timeoutMs} * US_PER_MS;
    const std::uint64_t poll = std::uint64_t{ANSWER_POLL_MS} * US_PER_MS;
    const std::uint64_t start = ops.nowUs(ops.context);
    if (!ops.replyCheck(ops.context, timeoutMs))
        return false;
    for (;;) {
        if (ops.wholeAnswerSeen(ops.context))
            return true;
        const std::uint64_t spent = ops.nowUs(ops.context) - start;
        if (spent >= limit)
            return false;
        const std::uint64_t left = limit - spent;
        ops.sleepUs(ops.context, left < poll ? left : poll);
    }
}

static const AnswerWaitOps SYSTEM_ANSWER_WAIT = {
    nullptr,
    [](void *, unsigned timeoutMs) { return replyCheck(timeoutMs); },
    [](void *) { return wholeUploadAnswerSeen(); },
    [](void *) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    },
    [](void *, std::uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); },
};

bool awaitUploadAnswer(unsigned timeoutMs)
{
    beginUploadAnswer();
    return awaitUploadAnswerOn(SYSTEM_ANSWER_WAIT, timeoutMs);
}
