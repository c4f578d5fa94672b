// The proxy's settings, read from section "php" of proxy.ini beside it.
// Portable: the INI reading itself is passed in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "package/proxy/http_parse.h"

namespace tunnel {

struct ProxyConfig {
  bool enable = true;
  std::string listenIp = "127.0.0.1";
  uint16_t listenPort = 8088;
  std::string fetchServer;   // as written in the file
  bool fetchServerValid = false;
  UrlParts fetchUrl;
  std::string password;      // empty: requests are not signed
  uint32_t timeoutMs = 30000;  // fetch server response time-out
  std::string problem;       // why a value was not usable (the default was kept)
};

// `read(key, default)` returns the value of a key of section "php".
ProxyConfig ParseProxyConfig(const std::function<std::string(const char* key, const char* def)>& read);

}  // namespace tunnel
