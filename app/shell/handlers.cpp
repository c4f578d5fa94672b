#include "app/shell/handlers.h"

#include "app/channels/channel_list.h"
#include "app/service/tunnel_service.h"

void HandleWindowCreated(AppContext& app) {
  StopTunnelProcesses();
  RefreshChannelList(app);
}
