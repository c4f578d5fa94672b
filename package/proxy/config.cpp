#include "package/proxy/config.h"

namespace tunnel {

ProxyConfig ParseProxyConfig(const std::function<std::string(const char*, const char*)>& read) {
  ProxyConfig c;
  std::string enable(TrimOws(read("enable", "1")));
  c.enable = !(enable == "0" || EqualsNoCase(enable, "false") || EqualsNoCase(enable, "no") ||
               EqualsNoCase(enable, "off"));
  std::string listen(TrimOws(read("listen", "127.0.0.1:8088")));
  if (!ParseListenAddress(listen, c.listenIp, c.listenPort)) {
    c.problem += "listen address \"" + listen + "\" not usable; ";
    c.listenIp = "127.0.0.1";
    c.listenPort = 8088;
  }
  c.fetchServer = std::string(TrimOws(read("fetchserver", "")));
  std::string url = c.fetchServer;
  if (!url.empty() && url.find("://") == std::string::npos) url = "http://" + url;
  c.fetchServerValid = !url.empty() && ParseAbsoluteUrl(url, c.fetchUrl);
  if (!c.fetchServerValid) c.problem += "fetch server address \"" + c.fetchServer + "\" not usable; ";
  c.password = read("password", "");
  uint64_t seconds = 0;
  std::string timeout(TrimOws(read("timeout", "30")));
  if (ParseDecimal(timeout, seconds) && seconds >= 1 && seconds <= 3600) {
    c.timeoutMs = static_cast<uint32_t>(seconds * 1000);
  } else {
    c.problem += "timeout \"" + timeout + "\" not usable; ";
  }
  return c;
}

}  // namespace tunnel
