// The main window's services for the "&Printer" command: its printer choice, job and error boxes.
#include "app/print_ops_win32.h"

#include "app/main_window_win32.h"
#include "base/shell_messages.h"
#include "fileio/replacing_file.h"
#include "report/print_report_win32.h"
#include "report/printer_choice_win32.h"

static long chooseWindowPrinter(PrinterDc *dc)
{
    return choosePrinter(systemPrinterOps(), mainWindow, dc);
}

static long printWindowReport(PrinterDc dc, PrintStep *failed)
{
    return printReport(static_cast<HDC>(dc), captionText, failed);
}

static void deleteDc(PrinterDc dc)
{
    DeleteDC(static_cast<HDC>(dc));
}

static void showError(const char *text)
{
    MessageBoxA(mainWindow, text, TITLE_ERROR, MB_OK | MB_ICONERROR);
}

const PrintOps &windowPrintOps()
{
    // The printer calls' codes are the system's, as the file calls' are.
    static const PrintOps ops = {chooseWindowPrinter, printWindowReport, deleteDc, describeFileError, showError};
    return ops;
}
