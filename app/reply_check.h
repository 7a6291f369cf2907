// replyCheck: asks the device for its parameters and waits for the first answer.
#pragma once

#include <cstdint>

inline constexpr unsigned PORT_OPENED_WAIT_MS = 3000; // after a port change from the menu
inline constexpr unsigned PROBE_WAIT_MS = 2000;       // per port tried by Auto connect

// requestUpload, reset the confirmation, wait up to timeoutMs, reset again.
// The request goes out before the reset: an answer to an older request that is
// still on its way must not count as this one's.
bool replyCheck(unsigned timeoutMs);

// How often awaitUploadAnswer looks whether the rest of the set has come.
inline constexpr unsigned ANSWER_POLL_MS = 5;

// replyCheck, then, within the same time-out, the rest of the answer: the
// device sends limit1Mode first and the other parameters after it, and what is
// compared or shown must be the set it reports now, not partly the one before.
// True only when all 23 parameters of the answer arrived in time. An answer cut
// short, or a lone stray 3000..3009, is no answer: the fields it did not bring
// still hold what was there before (a loaded file's values, say), and would
// seem to confirm them.
bool awaitUploadAnswer(unsigned timeoutMs);

// The clock and the waits of awaitUploadAnswer; a test stands a scripted
// clock in for them.
struct AnswerWaitOps {
    void *context;
    bool (*replyCheck)(void *context, unsigned timeoutMs); // the answer's first code within timeoutMs
    bool (*wholeAnswerSeen)(void *context);                // all 23 parameters since the request
    std::uint64_t (*nowUs)(void *context);                 // microseconds, never going back
    void (*sleepUs)(void *context, std::uint64_t us);
};

// awaitUploadAnswer on ops: the whole wait, first code and rest together,
// ends within timeoutMs of the call.
bool awaitUploadAnswerOn(const AnswerWaitOps &ops, unsigned timeoutMs);
