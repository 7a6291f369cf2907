// Port commands: start-up open, port change from the menu, Auto connect, and the port-failed mark.
#include "app/port_commands.h"

#include "app/reply_check.h"
#include "app/resource.h"
#include "app/settings.h"
#include "app/shell_messages.h"
#include "link/transmit.h"

int unmarkedComPort()
{
    return portFailedMarkSet() ? monitorSettings.comPort - PORT_FAILED_MARK : monitorSettings.comPort;
}

bool portFailedMarkSet()
{
    return monitorSettings.comPort > PORT_FAILED_MARK;
}

int comMenuId(int port)
{
    return IDM_PARAMETERS + port;
}

static void markPortFailed()
{
    monitorSettings.comPort = static_cast<std::uint16_t>(monitorSettings.comPort + PORT_FAILED_MARK);
}

void openStartupPort(const ShellOps &ops)
{
    // A stored mark says that the port chosen last could not be opened when it
    // was chosen; it is still the user's choice, so it is tried again as that
    // port (never as COM11..COM18, which the user never picked). A failure now
    // marks it, whether or not it was marked before: the menu commands rely on
    // "above 10 means no connection is open", and a failed start-up open must
    // not make them close a connection that was never made.
    const int port = unmarkedComPort();
    monitorSettings.comPort = static_cast<std::uint16_t>(port);
    if (!ops.openPort(port)) {
        ops.showWarning(MSG_PORT_FAILED);
        markPortFailed();
    }
    ops.setMenuCheck(comMenuId(port), true);
}

void choosePort(const ShellOps &ops, int port)
{
    // A marked comPort never equals port, so choosing the failed port tries it again.
    if (port == monitorSettings.comPort)
        return;
    if (portFailedMarkSet())
        monitorSettings.comPort = static_cast<std::uint16_t>(unmarkedComPort());
    else
        ops.closePort();
    ops.setMenuCheck(comMenuId(monitorSettings.comPort), false);
    ops.setMenuCheck(comMenuId(port), true);
    monitorSettings.comPort = static_cast<std::uint16_t>(port);
    if (!ops.openPort(port)) {
        ops.showWarning(MSG_PORT_FAILED);
        markPortFailed(); // reaches the file with the next settings write
        return;
    }
    ops.saveSettings();
    ops.postPortOpened();
}

void autoConnect(const ShellOps &ops)
{
    ops.setBusyCursor(true);
    if (!portFailedMarkSet())
        ops.closePort();
    int found = 0;
    for (int p = 1; p <= PORT_COUNT && found == 0; ++p) {
        if (!ops.openPort(p))
            continue; // absent or busy: skipped
        if (ops.replyCheck(PROBE_WAIT_MS))
            found = p;
        else
            ops.closePort();
    }
    ops.setBusyCursor(false);

    if (found != 0) {
        // The probe's answer may have been cut short by the end of the wait:
        // ask once more so that parameters and unit text arrive whole.
        requestUpload();
        ops.setMenuCheck(comMenuId(unmarkedComPort()), false);
        monitorSettings.comPort = static_cast<std::uint16_t>(found);
        ops.setMenuCheck(comMenuId(found), true);
        ops.saveSettings();
        return;
    }
    // Back to the port the user had; a marked one is not tried again.
    if (!portFailedMarkSet() && !ops.openPort(monitorSettings.comPort))
        markPortFailed();
    ops.showWarning(MSG_DEVICE_NOT_FOUND);
}
