// The "&Printer" command apart from the printer calls: choose, print, report, delete the context.
#pragma once

#include <cstddef>

#include "report/print_job.h"
#include "report/printer_choice.h"

// The window-side services of the command; a test supplies a scripted fake.
struct PrintOps {
    long (*choosePrinter)(PrinterDc *dc); // 0 with a context, 0 without one (cancelled), or an error code
    long (*printReport)(PrinterDc dc, PrintStep *failed); // 0, or the error code of the step *failed names
    void (*deleteDc)(PrinterDc dc);
    void (*describeError)(long code, char *text, std::size_t size); // the system's text for a code, one line
    void (*showError)(const char *text);                           // titled "Error!", error icon
};

// Room for "Error printing!: <code>", the failed step and the system's text.
inline constexpr std::size_t PRINT_MESSAGE_SIZE = 384;
inline constexpr std::size_t PRINT_REASON_SIZE = 192;

void printCommand(const PrintOps &ops);
