// Keyboard latch, Space and Pause.
#include "app/keyboard.h"

#include "app/ui_state.h"
#include "link/device_code.h"
#include "link/transmit.h"

void keyDown(int virtualKey)
{
    if (uiState.keyDownLatch)
        return;
    uiState.keyDownLatch = 1;
    if (virtualKey == KEY_SPACE) {
        sendCode(CMD_SPACE_KEY);
    } else if (virtualKey == KEY_PAUSE) {
        uiState.fullRedrawRequested = 1;
        uiState.trendFrozen = !uiState.trendFrozen;
    }
}

void keyUp()
{
    uiState.keyDownLatch = 0;
}
