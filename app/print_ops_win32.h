// The main window's services for the "&Printer" command.
#pragma once

#include "app/print_command.h"

const PrintOps &windowPrintOps();
