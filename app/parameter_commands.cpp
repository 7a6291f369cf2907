// The Parameters, Save Parameters and Load Parameters commands: the device check, the sheet, the files.
#include "app/parameter_commands.h"

#include <cstdio>

#include "app/ui_state.h"
#include "base/result_codes.h"
#include "base/shell_messages.h"
#include "link/transmit.h"
#include "params/parameter_set.h"

// What showSheet answers when the user closed the sheet with OK.
static constexpr int SHEET_OK = 1;
static constexpr int SHEET_NOT_CREATED = -1;

void parametersCommand(const ParameterOps &ops)
{
    // The wait lets the device's answer fill deviceParameters, so the sheet
    // opens on what the device has just reported. An answer that did not bring
    // the whole set counts as none: the user is asked rather than shown a sheet
    // partly on stale values.
    if (!ops.replyCheck(PARAMETERS_WAIT_MS) && !ops.askContinue(MSG_NOT_CONNECTED_CONTINUE))
        return;
    const int result = ops.showSheet();
    if (result == SHEET_OK) {
        // The pages have queued their changed codes; the 20 ms tick sends them
        // and then checks what the device reports.
        uiState.transferConfirmPending = 1;
    } else if (result == SHEET_NOT_CREATED) {
        ops.showErrorCode(MSG_SHEET_FAILED, ops.lastError());
    }
}

void saveParametersCommand(const ParameterOps &ops)
{
    const long result = ops.saveFile();
    if (result == 0)
        return; // saved, or the dialog was cancelled
    // One box for every failure: a short write is the file's own fault (titled
    // with the caption), anything else the command's ("Error!").
    if (result == ERR_SHORT_IO)
        ops.showCaptionError(MSG_NOT_SAVED);
    else
        ops.showError(MSG_NOT_SAVED);
}

// A file whose value would leave its field's codes (on the wire as another
// field's code, or as a device command) is refused whole before anything is
// sent or stored: "Parameters could not be loaded:\nlimit1Mode 62051 is outside 0..9"
// (two lines: a message box would wrap the one line somewhere in the name).
static bool load_valuesFit(const ParameterOps &ops, const ParameterSet &loaded)
{
    const ParameterField *outside = firstFieldOutOfRange(loaded);
    if (!outside)
        return true;
    char range[FIELD_RANGE_TEXT_SIZE];
    formatFieldOutOfRange(*outside, loaded, range, sizeof range);
    char text[CODE_MESSAGE_SIZE];
    std::snprintf(text, sizeof text, "%s:\n%s", MSG_NOT_LOADED, range);
    ops.showError(text);
    return false;
}

void loadParametersCommand(const ParameterOps &ops)
{
    ParameterSet loaded;
    const long result = ops.loadFile(&loaded);
    switch (result) {
    case 0:
        if (!load_valuesFit(ops, loaded))
            break;
        replaceDeviceParameters(loaded);
        snapshotParameters();
        // A whole set supersedes codes of an earlier transfer still waiting,
        // and the queue then always has room for all of it.
        discardQueuedCodes();
        queueParameterSet();
        uiState.transferConfirmPending = 1;
        break;
    case ERR_NOT_PARAMETER_FILE:
        ops.showError(MSG_NOT_PARAMETER_FILE);
        break;
    case ERR_LOAD_CANCELLED:
        break;
    default:
        ops.showErrorCode(MSG_NOT_LOADED, result);
        break;
    }
}
