// Queries on the standard-library link events, for native tests.
#pragma once

bool uploadConfirmSignalled();
unsigned txReadySignals();
