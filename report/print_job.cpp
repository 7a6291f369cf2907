// The print job's order of steps and what a failed one returns.
#include "report/print_job.h"

#include "report/printer_choice.h"

namespace {

long failedAt(const PrintJobOps &ops, PrintStep step, PrintStep *failed)
{
    *failed = step;
    return printFailureCode(ops.lastError(ops.context));
}

} // namespace

long runPrintJob(const PrintJobOps &ops, PrintStep *failed)
{
    *failed = PrintStep::none;
    if (!ops.startDocument(ops.context))
        return failedAt(ops, PrintStep::startDocument, failed);
    if (!ops.startPage(ops.context))
        return failedAt(ops, PrintStep::startPage, failed);
    ops.drawPage(ops.context);
    if (!ops.endPage(ops.context))
        return failedAt(ops, PrintStep::endPage, failed);
    if (!ops.endDocument(ops.context))
        return failedAt(ops, PrintStep::endDocument, failed);
    return 0;
}
