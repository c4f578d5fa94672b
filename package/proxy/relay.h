// Decisions of the relay between a browser and the fetch server that need no
// socket: which fields travel, how a response is framed towards the browser,
// and the proxy's own short pages. Portable.
#pragma once

#include <string>
#include <string_view>

#include "package/proxy/http_parse.h"

namespace tunnel {

// The browser request's fields that go to the target: hop-by-hop fields,
// Host (the fetch server sets it from the URL), Content-Length (the envelope
// carries the length) and Expect (answered here) are left out.
HeaderList FetchHeaders(const RequestHead& request);

// True when the client asked to close after this request (or speaks HTTP/1.0
// without asking to keep the connection).
bool ClientWantsClose(const RequestHead& request);

struct ClientResponsePlan {
  std::string head;       // status line and fields, with the empty line
  BodyKind framing = BodyKind::kNone;  // kLength, kChunked or kUntilClose towards the browser
  uint64_t length = 0;    // for kLength
  bool close = false;     // close the browser connection after the response
};

// How the target's response is passed on: its end-to-end fields unchanged,
// its own Content-Length kept when it had one, otherwise chunked to an
// HTTP/1.1 browser or delimited by closing for HTTP/1.0. False for a status
// that cannot be relayed (1xx).
bool PlanClientResponse(const ResponseHead& target, std::string_view requestMethod, int clientVersion,
                        bool clientWantsClose, ClientResponsePlan& out);

// A complete short HTML response of the proxy itself (GBK page). `close`
// adds "Connection: close".
std::string ProxyPage(int status, std::string_view reason, std::string_view title, std::string_view detail,
                      bool close);

// Text safe to place in an HTML page (escapes & < > " and drops controls).
std::string HtmlEscape(std::string_view s);

}  // namespace tunnel
