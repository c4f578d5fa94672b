// The tunnel service: deployment of the carried package, and its shutdown.
#pragma once

#include "app/shell/app_context.h"

void StopTunnelProcesses();
void CleanUpTunnelService(const AppContext& app);
void DeployTunnelService(AppContext& app);
