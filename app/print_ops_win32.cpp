// The main window's services for the "&Printer" command: its printer choice, job and error boxes.
#include "app/print_ops_win32.h"

#include "app/main_window_win32.h"
#include "base/shell_messages.h"
#include "report/print_report_win32.h"
#include "report/printer_choice_win32.h"

static long chooseWindowPrinter(PrinterDc *dc)
{
    return choosePrinter(systemPrinterOps(), mainWindow, dc);
}

static long printWindowReport(PrinterDc dc)
{
    return printReport(static_cast<HDC>(dc), captionText);
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
    static const PrintOps ops = {chooseWindowPrinter, printWindowReport, deleteDc, showError, showErrorCode};
    return ops;
}
