// The "&Printer" command: the printer choice, the print job and their messages.
#include "app/print_command.h"

#include <cstdio>

#include "base/shell_messages.h"

// The second line under "Error printing!: <code>": a code alone tells the user
// nothing (6 for a queue deleted meanwhile), so the step and the system's text
// for the code follow it. The first line stays the one the program has always
// shown, so that whoever looks for it finds it.
static const char *const PRINT_STEP_TEXTS[PRINT_STEP_COUNT] = {
    "The printer failed", // no step named: not returned with a code
    "The printer did not start the document",
    "The printer did not start the page",
    "The printer did not finish the page",
    "The printer did not take the document",
};

static void print_showFailure(const PrintOps &ops, long code, PrintStep step)
{
    char first[CODE_MESSAGE_SIZE];
    formatCodeMessage(first, sizeof first, MSG_PRINT_FAILED, code);
    char reason[PRINT_REASON_SIZE];
    ops.describeError(code, reason, sizeof reason);
    char text[PRINT_MESSAGE_SIZE];
    std::snprintf(text, sizeof text, "%s\n%s: %s", first, PRINT_STEP_TEXTS[static_cast<int>(step)], reason);
    ops.showError(text);
}

void printCommand(const PrintOps &ops)
{
    PrinterDc dc = nullptr;
    if (ops.choosePrinter(&dc) != 0) {
        ops.showError(MSG_PRINTER_FAILED);
        return;
    }
    if (!dc)
        return; // the user cancelled: no message
    PrintStep failed = PrintStep::none;
    const long result = ops.printReport(dc, &failed);
    if (result != 0)
        print_showFailure(ops, result, failed);
    // A failed job is ended by deleting its context too.
    ops.deleteDc(dc);
}
