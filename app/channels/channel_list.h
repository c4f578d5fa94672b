// The channel list: list.txt from the content server into ChannelTable.
#pragma once

#include "app/shell/app_context.h"

// Empties the table, then fills it from the content server's list.txt.
void RefreshChannelList(AppContext& app);
// The same from the list at url.
void RefreshChannelListFrom(AppContext& app, const Text& url);
