#include "app/channels/channel_list.h"

void RefreshChannelList(AppContext& app) { app.view.ClearRows(); }
