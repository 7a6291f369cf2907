// The system calls behind choosePrinter: version, default printer enumeration, page setup dialog, CreateDCA.
#pragma once

#include "report/printer_choice.h"

const PrinterOps &systemPrinterOps();
