// The browser side of a proxy session: the socket itself, and after CONNECT
// the TLS stream over it. The session reads and writes through this one
// object, so a request inside an HTTPS tunnel is handled by the same code as
// a plain one. Windows only.
#pragma once

#include <winsock2.h>

#include <string>

#include "package/proxy/net_win.h"
#include "package/proxy/tls/tls_stream.h"

namespace tunnel {

class ClientLink final : public TlsTransport {
 public:
  explicit ClientLink(SOCKET s) : s_(s) {}

  // What the session reads and writes: decrypted once TLS is on.
  IoResult Recv(char* p, size_t cap, size_t& got);
  bool Send(WSABUF* bufs, DWORD count);
  bool Send(const char* p, size_t n);

  // The raw socket, for the TLS stream (TlsTransport). Bytes given to
  // SetPending (those that came behind the CONNECT head) come first.
  long Receive(char* p, size_t cap) override;
  bool SendAll(const char* p, size_t n) override;

  void SetPending(std::string bytes) {
    pending_ = std::move(bytes);
    pendingAt_ = 0;
  }
  // From now on Recv and Send go through `tls` (null: the socket again).
  // Give it a stream that writes in the background: Send(bufs) only queues.
  void UseTls(TlsServerStream* tls) { tls_ = tls; }
  bool TlsOn() const { return tls_ != nullptr; }

 private:
  SOCKET s_;
  TlsServerStream* tls_ = nullptr;
  std::string pending_;
  size_t pendingAt_ = 0;
  bool timedOut_ = false;
};

}  // namespace tunnel
