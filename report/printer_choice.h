// choosePrinter's decisions, apart from the system calls (PrinterOps).
//
// Which way to a printer by system family, what each failure returns, and
// that every block taken is given back. Windows 9x prints on the default
// printer in landscape without asking; the NT family (wine included) asks in
// the page setup dialog.
#pragma once

#include <cstddef>

// A printer device context (HDC) and a memory block (an enumeration buffer or
// an HGLOBAL), opaque here.
using PrinterDc = void *;
using MemoryBlock = void *;

// Returned when the 9x family has no default printer (enumeration gives no
// record). It is ERROR_FILE_NOT_FOUND, the system's own answer to "no default
// printer".
inline constexpr long ERR_NO_PRINTER = 2;

// Returned in place of a failure whose system code reads 0 (wine's EndDoc for
// a job the print server refused among them), by the printer choice and the
// print job alike: 0 would read as success, or as a cancel. It is
// ERROR_GEN_FAILURE, the system's own "the device is not working".
inline constexpr long ERR_PRINT_NO_CODE = 31;

// The code a failed printer call returns: the system's, never 0.
inline long printFailureCode(long systemCode)
{
    return systemCode != 0 ? systemCode : ERR_PRINT_NO_CODE;
}

// Room for a device name taken whole from the dialog's DEVNAMES block.
inline constexpr std::size_t PRINTER_NAME_SIZE = 260;

struct PrinterOps {
    bool (*windows9xFamily)(); // GetVersionExA reports VER_PLATFORM_WIN32_WINDOWS
    long (*lastError)();       // GetLastError

    // 9x: the default printer.
    unsigned long (*defaultPrinterBytes)(); // EnumPrintersA's size query for PRINTER_ENUM_DEFAULT, level 2
    MemoryBlock (*allocate)(unsigned long bytes); // nullptr on failure
    void (*release)(MemoryBlock buffer);
    // EnumPrintersA into the buffer; false on failure, else *records = records returned.
    bool (*enumerateDefaultPrinter)(MemoryBlock buffer, unsigned long bytes, unsigned long *records);
    // CreateDCA for the first record, its device mode turned to landscape; nullptr on failure.
    PrinterDc (*createLandscapeDc)(MemoryBlock records);

    // NT: the page setup dialog.
    // PageSetupDlgA owned by `owner`, handed no device blocks: the dialog
    // makes them and hands them back (either may come back as nullptr, also
    // when it returns false). False when the dialog returned 0.
    bool (*pageSetupDialog)(void *owner, MemoryBlock *devMode, MemoryBlock *devNames);
    long (*dialogError)(); // CommDlgExtendedError: 0 when the user cancelled
    // Locks the DEVNAMES block and copies the device name whole; false when the lock failed.
    bool (*deviceName)(MemoryBlock devNames, char *name, std::size_t size);
    // CreateDCA with the device name and the locked device mode; nullptr on failure.
    PrinterDc (*createDc)(const char *deviceName, MemoryBlock devMode);
    void (*freeBlock)(MemoryBlock block); // GlobalFree; never called with nullptr
};

// Returns 0 with *dc set (a printer was chosen), 0 with *dc nullptr (the user
// cancelled), or an error code with *dc nullptr: the system's last error
// (printFailureCode), the dialog's extended error, or ERR_NO_PRINTER.
long choosePrinter(const PrinterOps &ops, void *owner, PrinterDc *dc);
