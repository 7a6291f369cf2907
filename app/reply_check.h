// replyCheck: asks the device for its parameters and waits for the first answer.
#pragma once

inline constexpr unsigned PORT_OPENED_WAIT_MS = 3000; // after a port change from the menu
inline constexpr unsigned PROBE_WAIT_MS = 2000;       // per port tried by Auto connect

// requestUpload, reset the confirmation, wait up to timeoutMs, reset again.
// The request goes out before the reset: an answer to an older request that is
// still on its way must not count as this one's.
bool replyCheck(unsigned timeoutMs);
