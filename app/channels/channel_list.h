// The channel list: list.txt from the content server into ChannelTable.
#pragma once

#include "app/shell/app_context.h"

void RefreshChannelList(AppContext& app);
