// Printer choice on both system families and the "&Printer" command, against scripted system calls.
//
// Every failure row, what is returned, which calls are made and that every
// block is given back.
#include "report/printer_choice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/print_command.h"
#include "base/shell_messages.h"

namespace {

// Handles the fake hands out; a printer context is any non-null pointer.
char bufferBlock, devModeBlock, devNamesBlock, printerContext;
PrinterDc const PRINTER_DC = &printerContext;

struct FakeSystem {
    bool windows9x = false;
    long lastError = 0;
    // 9x
    unsigned long defaultBytes = 0;
    bool allocateFails = false;
    bool enumerateFails = false;
    unsigned long records = 0;
    bool createFails = false;
    // NT
    bool dialogOk = true;
    bool dialogMakesBlocks = true;
    long dialogError = 0;
    bool lockFails = false;
    const char *device = "K614-PDF";
    std::vector<std::string> log;
    int held = 0; // blocks taken and not given back
};

FakeSystem sys;

void note(const std::string &s)
{
    sys.log.push_back(s);
}

const PrinterOps fakeOps = {
    [] {
        note("version");
        return sys.windows9x;
    },
    [] { return sys.lastError; },
    [] {
        note("size");
        return sys.defaultBytes;
    },
    [](unsigned long bytes) -> MemoryBlock {
        note("allocate " + std::to_string(bytes));
        if (sys.allocateFails)
            return nullptr;
        ++sys.held;
        return &bufferBlock;
    },
    [](MemoryBlock b) {
        EXPECT_EQ(b, &bufferBlock);
        note("release");
        --sys.held;
    },
    [](MemoryBlock b, unsigned long bytes, unsigned long *records) {
        EXPECT_EQ(b, &bufferBlock);
        note("enumerate " + std::to_string(bytes));
        *records = sys.records;
        return !sys.enumerateFails;
    },
    [](MemoryBlock b) -> PrinterDc {
        EXPECT_EQ(b, &bufferBlock);
        note("create landscape");
        return sys.createFails ? nullptr : PRINTER_DC;
    },
    [](void *owner, MemoryBlock *devMode, MemoryBlock *devNames) {
        EXPECT_EQ(*devMode, nullptr) << "the dialog must be handed no blocks";
        EXPECT_EQ(*devNames, nullptr) << "the dialog must be handed no blocks";
        note(std::string("dialog ") + static_cast<const char *>(owner));
        if (sys.dialogMakesBlocks) {
            *devMode = &devModeBlock;
            *devNames = &devNamesBlock;
            sys.held += 2;
        }
        return sys.dialogOk;
    },
    [] {
        note("dialog error");
        return sys.dialogError;
    },
    [](MemoryBlock names, char *name, std::size_t size) {
        EXPECT_EQ(names, &devNamesBlock);
        note("device name");
        if (sys.lockFails)
            return false;
        std::strncpy(name, sys.device, size - 1);
        name[size - 1] = 0;
        return true;
    },
    [](const char *device, MemoryBlock mode) -> PrinterDc {
        EXPECT_EQ(mode, &devModeBlock);
        note(std::string("create ") + device);
        return sys.createFails ? nullptr : PRINTER_DC;
    },
    [](MemoryBlock b) {
        EXPECT_TRUE(b == &devModeBlock || b == &devNamesBlock);
        note(b == &devModeBlock ? "free mode" : "free names");
        --sys.held;
    },
};

char ownerName[] = "main window";

class PrinterChoice : public ::testing::Test {
protected:
    void SetUp() override { sys = FakeSystem{}; }
    void TearDown() override { EXPECT_EQ(sys.held, 0) << "a block was not given back"; }

    static long choose(PrinterDc *dc)
    {
        *dc = &bufferBlock; // whatever the caller had: never left there
        return choosePrinter(fakeOps, ownerName, dc);
    }
    using Log = std::vector<std::string>;
};

TEST_F(PrinterChoice, NtFamilyTakesThePrinterAndItsModeFromThePageSetupDialog)
{
    PrinterDc dc;
    EXPECT_EQ(choose(&dc), 0);
    EXPECT_EQ(dc, PRINTER_DC);
    EXPECT_EQ(sys.log, (Log{"version", "dialog main window", "device name", "create K614-PDF", "free mode",
                            "free names"}));

    // A device name longer than DEVMODE's 32 characters is taken whole.
    SetUp();
    const std::string longName = "\\\\printserver.example\\K614 report printer on the second floor";
    sys.device = longName.c_str();
    EXPECT_EQ(choose(&dc), 0);
    EXPECT_EQ(sys.log[3], "create " + longName);
}

TEST_F(PrinterChoice, NtFamilyCancelAndFailureRows)
{
    PrinterDc dc;
    // Cancelled: no code, no context, the dialog's blocks freed.
    sys.dialogOk = false;
    EXPECT_EQ(choose(&dc), 0);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(sys.log, (Log{"version", "dialog main window", "dialog error", "free mode", "free names"}));

    // The dialog failed: its extended error code.
    SetUp();
    sys.dialogOk = false;
    sys.dialogMakesBlocks = false;
    sys.dialogError = 0x1008;
    EXPECT_EQ(choose(&dc), 0x1008);
    EXPECT_EQ(dc, nullptr);

    // The device names cannot be locked: the system's code.
    SetUp();
    sys.lockFails = true;
    sys.lastError = 6;
    EXPECT_EQ(choose(&dc), 6);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(sys.log, (Log{"version", "dialog main window", "device name", "free mode", "free names"}));

    // The dialog said OK but handed back no device names.
    SetUp();
    sys.dialogMakesBlocks = false;
    sys.lastError = 8;
    EXPECT_EQ(choose(&dc), 8);
    EXPECT_EQ(sys.log, (Log{"version", "dialog main window"}));

    // No context for the chosen printer: reported, never taken for a cancel,
    // even when the system left no code.
    SetUp();
    sys.createFails = true;
    sys.lastError = 1801;
    EXPECT_EQ(choose(&dc), 1801);
    EXPECT_EQ(dc, nullptr);
    SetUp();
    sys.createFails = true;
    EXPECT_EQ(choose(&dc), ERR_PRINT_NO_CODE);
}

TEST_F(PrinterChoice, Windows9xPrintsOnTheDefaultPrinterInLandscapeWithoutADialog)
{
    sys.windows9x = true;
    sys.defaultBytes = 412;
    sys.records = 1;
    PrinterDc dc;
    EXPECT_EQ(choose(&dc), 0);
    EXPECT_EQ(dc, PRINTER_DC);
    EXPECT_EQ(sys.log, (Log{"version", "size", "allocate 412", "enumerate 412", "create landscape", "release"}));
}

TEST_F(PrinterChoice, Windows9xFailureRows)
{
    PrinterDc dc;
    const auto nineX = [] {
        sys = FakeSystem{};
        sys.windows9x = true;
        sys.defaultBytes = 412;
        sys.records = 1;
    };
    // The enumeration failed: the system's code, the buffer given back.
    nineX();
    sys.enumerateFails = true;
    sys.lastError = 122;
    EXPECT_EQ(choose(&dc), 122);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(sys.log, (Log{"version", "size", "allocate 412", "enumerate 412", "release"}));

    // No buffer.
    nineX();
    sys.allocateFails = true;
    sys.lastError = 8;
    EXPECT_EQ(choose(&dc), 8);
    EXPECT_EQ(sys.log, (Log{"version", "size", "allocate 412"}));

    // No default printer, whether the size query or the enumeration says so:
    // "Unable to open printer" rather than silence.
    nineX();
    sys.defaultBytes = 0;
    EXPECT_EQ(choose(&dc), ERR_NO_PRINTER);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(sys.log, (Log{"version", "size"}));
    nineX();
    sys.records = 0;
    EXPECT_EQ(choose(&dc), ERR_NO_PRINTER);
    EXPECT_EQ(sys.log, (Log{"version", "size", "allocate 412", "enumerate 412", "release"}));

    // No context for the default printer.
    nineX();
    sys.createFails = true;
    sys.lastError = 1801;
    EXPECT_EQ(choose(&dc), 1801);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(sys.log, (Log{"version", "size", "allocate 412", "enumerate 412", "create landscape", "release"}));
}

// ---- the command ----

struct FakeCommand {
    long chooseResult = 0;
    bool chosen = true;
    long printResult = 0;
    PrintStep printFailed = PrintStep::none;
    std::vector<std::string> log;
};

FakeCommand cmd;

const PrintOps printOps = {
    [](PrinterDc *dc) {
        cmd.log.push_back("choose");
        *dc = cmd.chosen ? PRINTER_DC : nullptr;
        return cmd.chooseResult;
    },
    [](PrinterDc dc, PrintStep *failed) {
        EXPECT_EQ(dc, PRINTER_DC);
        cmd.log.push_back("print");
        *failed = cmd.printFailed;
        return cmd.printResult;
    },
    [](PrinterDc dc) {
        EXPECT_EQ(dc, PRINTER_DC);
        cmd.log.push_back("delete");
    },
    [](long code, char *text, std::size_t size) { std::snprintf(text, size, "reason %ld", code); },
    [](const char *text) { cmd.log.push_back(std::string("Error! ") + text); },
};

TEST(PrintCommand, PrintsMessagesEachFailureAndAlwaysDeletesTheContext)
{
    using Log = std::vector<std::string>;
    cmd = FakeCommand{};
    printCommand(printOps);
    EXPECT_EQ(cmd.log, (Log{"choose", "print", "delete"}));

    cmd = FakeCommand{};
    cmd.chosen = false;
    printCommand(printOps);
    EXPECT_EQ(cmd.log, Log{"choose"}) << "a cancel prints nothing and shows nothing";

    cmd = FakeCommand{};
    cmd.chosen = false;
    cmd.chooseResult = 0x1008;
    printCommand(printOps);
    EXPECT_EQ(cmd.log, (Log{"choose", "Error! Unable to open printer"}));

    // The code the program has always shown, then which step failed and why.
    cmd = FakeCommand{};
    cmd.printResult = 6;
    cmd.printFailed = PrintStep::startDocument;
    printCommand(printOps);
    EXPECT_EQ(cmd.log, (Log{"choose", "print",
                            "Error! Error printing!: 6\nThe printer did not start the document: reason 6", "delete"}));
}

} // namespace
