// Printer choice: the default printer in landscape on Windows 9x, the page setup dialog on the NT family.
#include "report/printer_choice.h"

namespace {

// The enumeration buffer, given back on every way out.
class HeldBuffer {
public:
    HeldBuffer(const PrinterOps &ops, MemoryBlock block) : ops_(ops), block_(block) {}
    ~HeldBuffer()
    {
        if (block_)
            ops_.release(block_);
    }
    HeldBuffer(const HeldBuffer &) = delete;
    HeldBuffer &operator=(const HeldBuffer &) = delete;
    MemoryBlock get() const { return block_; }

private:
    const PrinterOps &ops_;
    MemoryBlock block_;
};

// The dialog's device blocks, freed on every way out.
class DialogBlocks {
public:
    explicit DialogBlocks(const PrinterOps &ops) : ops_(ops) {}
    ~DialogBlocks()
    {
        if (devMode)
            ops_.freeBlock(devMode);
        if (devNames)
            ops_.freeBlock(devNames);
    }
    DialogBlocks(const DialogBlocks &) = delete;
    DialogBlocks &operator=(const DialogBlocks &) = delete;
    MemoryBlock devMode = nullptr;
    MemoryBlock devNames = nullptr;

private:
    const PrinterOps &ops_;
};

long chooseDefaultPrinter(const PrinterOps &ops, PrinterDc *dc)
{
    const unsigned long bytes = ops.defaultPrinterBytes();
    // Nothing to enumerate: no default printer. The command reports it rather
    // than ending silently as for a cancel, since the user asked to print and
    // no dialog was shown.
    if (bytes == 0)
        return ERR_NO_PRINTER;
    const HeldBuffer buffer(ops, ops.allocate(bytes));
    if (!buffer.get())
        return printFailureCode(ops.lastError());
    unsigned long records = 0;
    if (!ops.enumerateDefaultPrinter(buffer.get(), bytes, &records))
        return printFailureCode(ops.lastError());
    if (records == 0)
        return ERR_NO_PRINTER;
    *dc = ops.createLandscapeDc(buffer.get());
    return *dc ? 0 : printFailureCode(ops.lastError());
}

long choosePrinterInDialog(const PrinterOps &ops, void *owner, PrinterDc *dc)
{
    // The dialog is handed no blocks: wine's dialog divides by zero painting its
    // preview from zero-filled ones, and the process dies. Made by the dialog,
    // the blocks are still ours to free.
    DialogBlocks blocks(ops);
    if (!ops.pageSetupDialog(owner, &blocks.devMode, &blocks.devNames))
        return ops.dialogError(); // 0: cancelled, no device context
    char name[PRINTER_NAME_SIZE];
    if (!blocks.devNames || !ops.deviceName(blocks.devNames, name, sizeof name))
        return printFailureCode(ops.lastError());
    *dc = ops.createDc(name, blocks.devMode);
    return *dc ? 0 : printFailureCode(ops.lastError());
}

} // namespace

long choosePrinter(const PrinterOps &ops, void *owner, PrinterDc *dc)
{
    *dc = nullptr;
    if (ops.windows9xFamily())
        return chooseDefaultPrinter(ops, dc);
    return choosePrinterInDialog(ops, owner, dc);
}
