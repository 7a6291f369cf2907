// The main window: its handles, caption, window procedure and the handlers it routes to.
#pragma once

#include <windows.h>

#include "app/shell_ops.h"
#include "base/panel_layout.h"

struct ParameterOps;

inline constexpr int TEXT_BUFFER_SIZE = 100;

extern HINSTANCE appInstance;
extern HWND mainWindow;
extern char captionText[TEXT_BUFFER_SIZE];    // string 102: title, message box title
extern char classNameText[TEXT_BUFFER_SIZE];  // string 109
extern HWND resetButtons[RESET_BUTTON_COUNT]; // ids 10, 11, 12
extern RECT trendUpdateRect;

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_COMMAND: true when the id is one of the program's (the result is then 0).
bool handleCommand(int id);
// WM_TIMER.
void handleTimer(WPARAM id);

// The window-side services for the port and menu commands.
const ShellOps &windowShellOps();
// The window-side services for the parameter and file commands.
const ParameterOps &windowParameterOps();
// "%s: %ld" of text and code, titled "Error!", error icon, owned by mainWindow.
void showErrorCode(const char *text, long code);
// Writes the settings file and reports a failure.
void saveSettings();
