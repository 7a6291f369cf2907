// Serial line for command-line tools: what the platform files share, the texts of the open results.
#include "link/serial_line.h"

const char *serialOpenResultText(SerialOpenResult result)
{
    switch (result) {
    case SerialOpenResult::ok:
        return "port open";
    case SerialOpenResult::noSuchPort:
        return "no such port";
    case SerialOpenResult::busy:
        return "port busy";
    case SerialOpenResult::notSerial:
        return "not a serial port";
    case SerialOpenResult::failed:
        break;
    }
    return "cannot open the port";
}
