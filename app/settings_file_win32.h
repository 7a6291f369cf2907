// Reading, creating and writing "K614Mon.cnf" in the working directory.
#pragma once

// Fills monitorSettings from the file, or creates the file from it. Returns 0,
// ERR_SHORT_IO, or the system error code of the failed open. Values the
// program could not have written are put back to their defaults.
long readSettingsFile();

// Writes the 280 bytes of monitorSettings over the start of the file (never
// truncating it). Returns 0, ERR_SHORT_IO or the system error code.
long writeSettingsFile();
