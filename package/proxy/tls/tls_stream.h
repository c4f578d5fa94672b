// The server side of one TLS connection over any byte transport (a socket in
// the proxy, a socket pair in tests). Portable.
//
// Records are gathered: what mbedTLS writes is kept in a large send buffer
// and handed to the transport when it fills, when the stream is flushed, and
// before the stream waits for the client; reads take as much from the
// transport as it has at hand. So a bulk body costs few transport calls, not
// one per 16 KB record.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "package/proxy/tls/cert_authority.h"

namespace tunnel {

class TlsTransport {
 public:
  virtual ~TlsTransport() = default;
  // One receive of at most `cap` bytes: the count, 0 when the peer closed,
  // negative on failure or time-out.
  virtual long Receive(char* p, size_t cap) = 0;
  virtual bool SendAll(const char* p, size_t n) = 0;
};

enum class TlsAccept {
  kOk,
  kNotTls,  // the client's first bytes are not a TLS handshake (they are in Received())
  kFailed,  // handshake failed (Error() says why), or the connection broke
};

class TlsServerStream {
 public:
  static constexpr size_t kBufferSize = 1 << 20;

  explicit TlsServerStream(TlsTransport& transport);
  ~TlsServerStream();
  TlsServerStream(const TlsServerStream&) = delete;
  TlsServerStream& operator=(const TlsServerStream&) = delete;

  // Runs the server handshake with this site's certificate; only "http/1.1"
  // is offered in ALPN. The stream keeps `cert` alive.
  TlsAccept Accept(std::shared_ptr<const SiteCert> cert);

  // From now on Write only queues the bytes (up to kBufferSize, then it
  // waits) and a thread of the stream encrypts and sends them, so a relay
  // can receive the next piece of a body while the last one is encrypted.
  // Read, Flush and Close first wait until the queue is sent; the TLS
  // state is never used by both threads at once. Call after Accept.
  bool WriteInBackground();

  // Decrypted bytes: as many as have arrived, at least one (waits for them);
  // 0 once the client closed; negative on failure.
  long Read(char* p, size_t cap);
  // Encrypts into the send buffer and sends when it fills (or queues, see
  // WriteInBackground).
  bool Write(const char* p, size_t n);
  // Sends what is buffered or queued; false if anything failed.
  bool Flush();
  bool WriteAll(const char* p, size_t n) { return Write(p, n) && Flush(); }
  // Sends close_notify and what is buffered. The transport stays open.
  void Close();

  const std::string& Error() const { return error_; }
  // The ALPN protocol agreed on, empty when the client offered none.
  std::string AlpnProtocol() const;
  // After kNotTls: the bytes the client sent first.
  std::string_view Received() const;

 private:
  bool WriteNow(const char* p, size_t n);
  bool Sync();
  void StopWriter();
  static int BioSend(void* self, const unsigned char* p, size_t n);
  static int BioRecv(void* self, unsigned char* p, size_t n);
  bool SendBuffered();
  void Fail(const char* what, int code);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  TlsTransport& transport_;
  std::string error_;
};

}  // namespace tunnel
