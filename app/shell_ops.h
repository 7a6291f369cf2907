// ShellOps: the window-side services that the connection and menu commands call.
//
// The commands decide; the main window (or a test) supplies the calls that
// need the platform: the port connection, the device wait, check marks,
// message boxes, the settings write and the cursor.
#pragma once

struct ShellOps {
    int (*openPort)(int port);              // nonzero: connection up on COM<port> at 9600 baud
    void (*closePort)();                    // harmless when nothing is open
    bool (*replyCheck)(unsigned timeoutMs); // the device answered an upload request in time
    void (*setMenuCheck)(int id, bool checked);
    void (*showWarning)(const char *text);  // "Communication" box with the warning icon
    void (*saveSettings)();                 // writes the settings file and reports a failure
    void (*postPortOpened)();               // posts ID_PORT_OPENED to the main window
    void (*setBusyCursor)(bool busy);       // wait cursor during Auto connect
};
