// Serving one browser connection. Windows only.
#pragma once

#include <winsock2.h>

#include "package/proxy/config.h"

namespace tunnel {

struct SessionSettings {
  ProxyConfig config;
  DWORD clientTimeoutMs = 30000;  // a request must arrive, and a kept-alive connection is closed, after this
};

// Takes ownership of `client` and serves it until it closes.
void ServeClient(SOCKET client, const SessionSettings& settings);

}  // namespace tunnel
