// Texts and titles of the main window's message boxes, and the "%s: %ld" form of a text with a code.
#pragma once

#include <cstddef>

inline constexpr char TITLE_ERROR[] = "Error!";
inline constexpr char TITLE_COMMUNICATION[] = "Communication";

inline constexpr char MSG_SETTINGS_FAILED[] = "Unable to read configuration settings!";
inline constexpr char MSG_EVENT_FAILED[] = "Creation of Event failed!";
inline constexpr char MSG_PORT_FAILED[] = "Comm. Port occupied or non existing";
inline constexpr char MSG_DEVICE_NOT_FOUND[] = "K614 not found on any COM-port";
inline constexpr char MSG_CONFIRM_TIMEOUT[] =
    "Timeout on confirmation of transferred parameters.\nErrors in transferred parameters may have occured!";
inline constexpr char MSG_NOT_TRANSFERRED[] = "Parameters not transferred correctly!";
inline constexpr char MSG_NOT_CONNECTED_CONTINUE[] =
    "K614 not connected. Parameters can not be send.\nContinue anyway?";
inline constexpr char MSG_SHEET_FAILED[] = "Unable to create Property sheets";
inline constexpr char MSG_NOT_SAVED[] = "Parameters could not be saved";
inline constexpr char MSG_NOT_LOADED[] = "Parameters could not be loaded";
inline constexpr char MSG_NOT_PARAMETER_FILE[] = "Not a K614-file,\nreading of parameters aborted!";
inline constexpr char MSG_PRINTER_FAILED[] = "Unable to open printer";
inline constexpr char MSG_PRINT_FAILED[] = "Error printing!";

// Room for the longest text above, the separator and a decimal long.
inline constexpr std::size_t CODE_MESSAGE_SIZE = 160;

// "<text>: <code>", the code in decimal; always terminated, cut to fit.
void formatCodeMessage(char *out, std::size_t size, const char *text, long code);
