// UiState: the one process-wide instance, all flags 0 at start.
#include "app/ui_state.h"

UiState uiState;

void resetUiState()
{
    uiState = UiState{};
}
