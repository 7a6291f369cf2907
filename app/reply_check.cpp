// replyCheck: the one wait pattern for the device's answer to an upload request.
#include "app/reply_check.h"

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
