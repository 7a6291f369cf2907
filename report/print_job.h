// The print job's steps apart from the printer calls (PrintJobOps): document, page, drawing, end of page and document.
//
// Which step failed decides what the job returns. A step that fails ends the
// job's calls at once: the command deletes the device context next, which
// ends what was started. The end of the page and of the document count as
// steps like the others: a print server that refuses the job (a queue that
// rejects jobs, a server that is gone) says so only there.
#pragma once

// The step that failed, so that the user can be told which.
enum class PrintStep { none, startDocument, startPage, endPage, endDocument };
inline constexpr int PRINT_STEP_COUNT = 5;

struct PrintJobOps {
    void *context;
    bool (*startDocument)(void *context); // StartDocA above 0
    bool (*startPage)(void *context);     // StartPage above 0
    void (*drawPage)(void *context);      // the page mapping and the report's pieces
    bool (*endPage)(void *context);       // EndPage above 0
    bool (*endDocument)(void *context);   // EndDoc above 0
    long (*lastError)(void *context);     // GetLastError
};

// 0 when the whole job went out, else the system's code of the step that
// failed (printFailureCode: never 0), *failed naming that step.
long runPrintJob(const PrintJobOps &ops, PrintStep *failed);
