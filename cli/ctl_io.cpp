// The port error's line, shared by every command that opens the port.
#include "cli/ctl_io.h"

#include "cli/exit_codes.h"

static constexpr char TOOL[] = "k614ctl";

int openPortError(SerialOpenResult result, const char *port, const CtlIo &io)
{
    std::fprintf(io.err, "%s: %s: %s\n", TOOL, port, serialOpenResultText(result));
    return EXIT_PORT_ERROR;
}
