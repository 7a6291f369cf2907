// The parameter property sheet: its four page procedures and the modal sheet over requestedParameters.
#pragma once

#include <windows.h>

// Snapshots deviceParameters into requestedParameters and shows the sheet
// modally. Returns what PropertySheetA returns: 1 after OK (the shown pages
// have queued their changed codes), 0 after Cancel, -1 when it could not be
// created (GetLastError then says why).
int showParameterSheet(HWND parent);

// The page procedures the sheet is built from, one per dialog template.
INT_PTR CALLBACK limit1PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK limit2PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK dpdtPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK setupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
