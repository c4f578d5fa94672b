#include "app/channels/channel_list.h"

#include "app/channels/channel_parse.h"
#include "app/channels/content_server.h"
#include "app/http/status_line.h"
#include "app/http/web_request.h"

void RefreshChannelList(AppContext& app) { RefreshChannelListFrom(app, kChannelListUrl); }

void RefreshChannelListFrom(AppContext& app, const Text& url) {
  // The old rows go first, so a failed download leaves the table empty.
  app.view.ClearRows();
  Text headers;
  const Bytes body = WebRequest(url, kGet, {}, nullptr, nullptr, {}, &headers);
  // An error page (or no response at all) is not a channel list.
  if (!IsSuccessStatus(headers)) return;
  AppendChannelRows(app.view, BytesToText(body));
}
