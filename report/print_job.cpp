// The print job's order of steps and what a failed one returns.
#include "report/print_job.h"

#include "report/printer_choice.h"

long runPrintJob(const PrintJobOps &ops)
{
    if (!ops.startDocument(ops.context) || !ops.startPage(ops.context))
        return printFailureCode(ops.lastError(ops.context));
    ops.drawPage(ops.context);
    if (!ops.endPage(ops.context) || !ops.endDocument(ops.context))
        return printFailureCode(ops.lastError(ops.context));
    return 0;
}
