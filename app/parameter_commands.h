// The Parameters, Save Parameters and Load Parameters commands, apart from the window calls.
#pragma once

#include "params/parameter_layout.h"

// How long "&Parameters" waits for the device before it asks whether to go on.
inline constexpr unsigned PARAMETERS_WAIT_MS = 2000;

// The window-side services these commands call; a test supplies a scripted fake.
struct ParameterOps {
    bool (*replyCheck)(unsigned timeoutMs);  // upload request answered in time with the whole set
    bool (*askContinue)(const char *text);   // Yes/No, titled with the caption, warning icon: true for Yes
    int (*showSheet)();                      // the parameter sheet: 1 OK, 0 cancelled, -1 not created
    long (*lastError)();                     // the system's last error code
    // Open dialog and read into *loaded (written only on 0): 0, ERR_NOT_PARAMETER_FILE, ERR_LOAD_CANCELLED or a code.
    long (*loadFile)(ParameterSet *loaded);
    long (*saveFile)();                      // save dialog and write: 0 (saved or cancelled), ERR_SHORT_IO or a code
    void (*showError)(const char *text);     // titled "Error!", error icon
    void (*showErrorCode)(const char *text, long code); // "%s: %ld", titled "Error!", error icon
    void (*showCaptionError)(const char *text);         // titled with the caption, error icon
};

void parametersCommand(const ParameterOps &ops);
void saveParametersCommand(const ParameterOps &ops);
void loadParametersCommand(const ParameterOps &ops);
