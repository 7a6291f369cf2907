// Port commands: start-up open, port change from the menu, Auto connect, the port-failed mark and a failed line.
#include "app/port_commands.h"

#include "app/reply_check.h"
#include "app/resource.h"
#include "base/settings.h"
#include "base/shell_messages.h"
#include "link/transmit.h"

int unmarkedComPort()
{
    return portFailedMarkSet() ? monitorSettings.comPort - PORT_FAILED_MARK : monitorSettings.comPort;
}

bool portFailedMarkSet()
{
    return monitorSettings.comPort > PORT_FAILED_MARK;
}

// The mark on comPort says that no connection is open, not why. This says
// that the line of the connection failed, not the user's choice: only then is
// the port tried again without being asked. GUI thread only, never stored:
// the settings file keeps its one mark for both.
static bool lineFailed = false;

int comMenuId(int port)
{
    return IDM_COM1 + port - 1;
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
    lineFailed = false; // a start-up open that fails is the user's choice failing
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
    // The user's choice ends the quiet reopening, whether or not it opens. Set
    // before anything can show a message box, whose message loop runs the timers.
    lineFailed = false;
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
    lineFailed = false; // as for a chosen port
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

bool closeFailedLine(const ShellOps &ops, bool readerGaveUp)
{
    // A marked port has no connection, so no reader to have given up.
    if (!readerGaveUp || portFailedMarkSet())
        return false;
    // The reader only waits to be stopped now: the bytes of a device plugged in
    // again would never be read on this connection.
    ops.closePort();
    markPortFailed(); // the check mark stays: it is still the user's port
    lineFailed = true;
    return true;
}

bool reopenFailedLine(const ShellOps &ops)
{
    if (!lineFailed)
        return false;
    const int port = unmarkedComPort();
    // Quiet: the user did not ask, and a box a second would bury the window.
    if (!ops.openPort(port))
        return false;
    monitorSettings.comPort = static_cast<std::uint16_t>(port);
    lineFailed = false;
    // Nothing is saved: the file already names this port (or carries the mark
    // from a write while the line was down, which the next write takes off and
    // which start-up opens as this port anyway). The device is asked as after a
    // port change, through the posted command: its wait then runs from the
    // message loop, not inside this timer's handler.
    ops.postPortOpened();
    return true;
}
