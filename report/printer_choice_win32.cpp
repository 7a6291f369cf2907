// PrinterOps on Win32: version, printer enumeration, page setup dialog, device blocks, CreateDCA.
#include "report/printer_choice_win32.h"

#include <windows.h>

#include <commdlg.h>
#include <winspool.h>

namespace {

// A global memory block locked for a while.
class LockedBlock {
public:
    explicit LockedBlock(MemoryBlock block)
        : block_(static_cast<HGLOBAL>(block)), data_(block ? GlobalLock(block_) : nullptr)
    {
    }
    ~LockedBlock()
    {
        if (data_)
            GlobalUnlock(block_);
    }
    LockedBlock(const LockedBlock &) = delete;
    LockedBlock &operator=(const LockedBlock &) = delete;
    void *data() const { return data_; }

private:
    HGLOBAL block_;
    void *data_;
};

bool windows9xFamily()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

long lastError()
{
    return static_cast<long>(GetLastError());
}

unsigned long defaultPrinterBytes()
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 2, nullptr, 0, &needed, &returned);
    return needed;
}

MemoryBlock allocate(unsigned long bytes)
{
    return GlobalAlloc(GPTR, bytes);
}

void release(MemoryBlock buffer)
{
    GlobalFree(buffer);
}

bool enumerateDefaultPrinter(MemoryBlock buffer, unsigned long bytes, unsigned long *records)
{
    DWORD needed = 0;
    DWORD returned = 0;
    const BOOL ok = EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 2, static_cast<BYTE *>(buffer), bytes, &needed,
                                  &returned);
    *records = returned;
    return ok != FALSE;
}

PrinterDc createLandscapeDc(MemoryBlock records)
{
    const PRINTER_INFO_2A *printer = static_cast<const PRINTER_INFO_2A *>(records);
    // A record without a device mode prints with the driver's own settings.
    if (DEVMODEA *mode = printer->pDevMode) {
        mode->dmOrientation = DMORIENT_LANDSCAPE;
        mode->dmFields |= DM_ORIENTATION; // a driver reads only the fields marked as set
    }
    return CreateDCA(nullptr, printer->pPrinterName, nullptr, printer->pDevMode);
}

bool pageSetupDialog(void *owner, MemoryBlock *devMode, MemoryBlock *devNames)
{
    PAGESETUPDLGA setup = {};
    setup.lStructSize = sizeof setup;
    setup.hwndOwner = static_cast<HWND>(owner);
    setup.Flags = PSD_NONETWORKBUTTON;
    const BOOL chosen = PageSetupDlgA(&setup);
    *devMode = setup.hDevMode;
    *devNames = setup.hDevNames;
    return chosen != FALSE;
}

long dialogError()
{
    return static_cast<long>(CommDlgExtendedError());
}

bool deviceName(MemoryBlock devNames, char *name, std::size_t size)
{
    const LockedBlock lock(devNames);
    const DEVNAMES *names = static_cast<const DEVNAMES *>(lock.data());
    if (!names)
        return false;
    lstrcpynA(name, reinterpret_cast<const char *>(names) + names->wDeviceOffset, static_cast<int>(size));
    return true;
}

PrinterDc createDc(const char *device, MemoryBlock devMode)
{
    // Without a device mode (none came back, or it cannot be locked) the
    // printer's own defaults apply.
    const LockedBlock lock(devMode);
    return CreateDCA(nullptr, device, nullptr, static_cast<const DEVMODEA *>(lock.data()));
}

void freeBlock(MemoryBlock block)
{
    GlobalFree(static_cast<HGLOBAL>(block));
}

} // namespace

const PrinterOps &systemPrinterOps()
{
    static const PrinterOps ops = {windows9xFamily,   lastError,       defaultPrinterBytes,
                                   allocate,          release,         enumerateDefaultPrinter,
                                   createLandscapeDc, pageSetupDialog, dialogError,
                                   deviceName,        createDc,        freeBlock};
    return ops;
}
