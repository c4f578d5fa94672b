// The update check behind "更新" and the hand-over to the Updater.
#pragma once

#include "app/shell/app_context.h"

void CheckForUpdate(AppContext& app);
