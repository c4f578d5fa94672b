// The leg from the proxy to the fetch server: one POST per browser request,
// over a kept-alive connection where the server allows it. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "package/proxy/http_parse.h"

namespace tunnel {

enum class UpResult { kOk, kConnectFailed, kFailed, kTimeout, kBadResponse };

struct UpstreamSettings {
  UrlParts url;                  // the fetch server
  DWORD connectTimeoutMs = 10000;
  DWORD responseTimeoutMs = 30000;  // waiting for the response head, and between body reads
};

struct OuterHead {
  int status = 0;
  std::string contentType;
  std::string fetchMarker;  // the X-Corvalen-Fetch field, if any
};

class Upstream {
 public:
  virtual ~Upstream() = default;
  // Starts a POST of `total` bytes and sends its first bytes.
  virtual UpResult Begin(std::string_view first, uint64_t total) = 0;
  virtual UpResult Write(const char* p, size_t n) = 0;
  virtual UpResult ReceiveHead(OuterHead& head) = 0;
  // The next piece of the response body; n == 0 at its end. The bytes stay
  // valid until the next call.
  virtual UpResult Read(const char*& p, size_t& n) = 0;
  // Ends the exchange; a connection is kept only when the response was read
  // to its end and `reusable` is true.
  virtual void Finish(bool reusable) = 0;
  virtual const std::string& Error() const = 0;
};

// Plain sockets for http://, WinHTTP for https://.
std::unique_ptr<Upstream> MakeUpstream(const UpstreamSettings& settings);
// The shared WinHTTP session (opened on first use); call once at exit.
void CloseWinHttpSession();

}  // namespace tunnel
