// The handlers of MainWindow's events.
#pragma once

#include "app/shell/app_context.h"

// The created event: ends the tunnel service processes, then fills the channel table.
void HandleWindowCreated(AppContext& app);
