// The browser's side of a session after CONNECT: TLS, ended here with a
// certificate from the local CA, over the plain stream it takes over. The
// session reads and writes it like the plain one, so requests inside an
// HTTPS tunnel go through the same relay. Windows only.
#pragma once

#include <memory>
#include <string>

#include "package/proxy/client_stream_win.h"
#include "package/proxy/tls/tls_stream.h"

namespace tunnel {

class TlsClientStream final : public ClientStream, private TlsTransport {
 public:
  // `pending`: bytes the browser sent behind the CONNECT head; they are the
  // start of its TLS handshake.
  TlsClientStream(std::unique_ptr<ClientStream> plain, std::string pending);

  // The handshake. On kOk, sends go through a writer thread of the TLS
  // stream: Send only queues, and the data leaves while the session fetches
  // the next piece (before any Recv and at EndSending it is all sent).
  TlsAccept Accept(std::shared_ptr<const SiteCert> cert);
  const std::string& Error() const { return tls_.Error(); }
  // The stream underneath, to answer a client that did not speak TLS.
  ClientStream& Plain() { return *plain_; }
  // Gives the stream underneath back (after a failed Accept).
  std::unique_ptr<ClientStream> ReleasePlain() { return std::move(plain_); }

  IoResult Recv(char* p, size_t cap, size_t& got) override;
  bool Send(WSABUF* bufs, DWORD count) override;
  // close_notify, then the end of the plain stream.
  void EndSending() override;

 private:
  long Receive(char* p, size_t cap) override;
  bool SendAll(const char* p, size_t n) override;

  std::unique_ptr<ClientStream> plain_;
  std::string pending_;
  size_t pendingAt_ = 0;
  IoResult lastPlain_ = IoResult::kOk;
  TlsServerStream tls_;
};

}  // namespace tunnel
