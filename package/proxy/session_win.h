// Serving one browser connection. Windows only.
#pragma once

#include <winsock2.h>

#include "package/proxy/config.h"
#include "package/proxy/tls/proxy_tls_win.h"

namespace tunnel {

struct SessionSettings {
  ProxyConfig config;
  DWORD clientTimeoutMs = 30000;  // a request must arrive, and a kept-alive connection is closed, after this
  const ProxyTls* tls = nullptr;  // the local CA and site certificates; null: no HTTPS
};

// Takes ownership of `client` and serves it until it closes.
void ServeClient(SOCKET client, const SessionSettings& settings);

}  // namespace tunnel
