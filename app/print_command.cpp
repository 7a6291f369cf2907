// The "&Printer" command: the printer choice, the print job and their messages.
#include "app/print_command.h"

#include "base/shell_messages.h"

void printCommand(const PrintOps &ops)
{
    PrinterDc dc = nullptr;
    if (ops.choosePrinter(&dc) != 0) {
        ops.showError(MSG_PRINTER_FAILED);
        return;
    }
    if (!dc)
        return; // the user cancelled: no message
    const long result = ops.printReport(dc);
    if (result != 0)
        ops.showErrorCode(MSG_PRINT_FAILED, result);
    // A failed job is ended by deleting its context too.
    ops.deleteDc(dc);
}
