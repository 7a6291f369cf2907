// The "&Printer" command apart from the printer calls: choose, print, report, delete the context.
#pragma once

#include "report/printer_choice.h"

// The window-side services of the command; a test supplies a scripted fake.
struct PrintOps {
    long (*choosePrinter)(PrinterDc *dc); // 0 with a context, 0 without one (cancelled), or an error code
    long (*printReport)(PrinterDc dc);    // 0 or the error code of the failed step
    void (*deleteDc)(PrinterDc dc);
    void (*showError)(const char *text);                // titled "Error!", error icon
    void (*showErrorCode)(const char *text, long code); // "%s: %ld", titled "Error!", error icon
};

void printCommand(const PrintOps &ops);
