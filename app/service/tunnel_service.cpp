#include "app/service/tunnel_service.h"

#include "common/platform.h"

void StopTunnelProcesses() {}

void CleanUpTunnelService(const AppContext& app) {
  StopTunnelProcesses();
  RemoveDirTree(app.ServiceDir());
}

void DeployTunnelService(AppContext&) {}
