#include "package/proxy/tls/tls_stream.h"

#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "package/proxy/tls/tls_internal.h"

namespace tunnel {

struct TlsServerStream::Impl {
  mbedtls_ssl_context ssl;
  bool setUp = false;
  std::shared_ptr<const SiteCert> cert;
  std::unique_ptr<char[]> in;
  size_t inStart = 0, inEnd = 0;
  std::string out;
  bool noBlock = false;  // a receive that would wait answers "want read" instead
  bool closed = false;
  bool failed = false;

  Impl() { mbedtls_ssl_init(&ssl); }
  ~Impl() { mbedtls_ssl_free(&ssl); }
};

TlsServerStream::TlsServerStream(TlsTransport& transport) : impl_(std::make_unique<Impl>()), transport_(transport) {}
TlsServerStream::~TlsServerStream() = default;

void TlsServerStream::Fail(const char* what, int code) {
  impl_->failed = true;
  if (!error_.empty()) return;  // the first cause is the one worth telling
  char text[160] = "";
  mbedtls_strerror(code, text, sizeof text);
  error_ = std::string(what) + ": " + text;
}

bool TlsServerStream::SendBuffered() {
  if (impl_->out.empty()) return true;
  bool ok = transport_.SendAll(impl_->out.data(), impl_->out.size());
  impl_->out.clear();
  if (!ok && error_.empty()) error_ = "the client connection broke while sending";
  return ok;
}

int TlsServerStream::BioSend(void* self, const unsigned char* p, size_t n) {
  auto* s = static_cast<TlsServerStream*>(self);
  n = std::min<size_t>(n, INT_MAX);
  std::string& out = s->impl_->out;
  if (out.capacity() < kBufferSize) out.reserve(kBufferSize + 64 * 1024);
  out.append(reinterpret_cast<const char*>(p), n);
  if (out.size() >= kBufferSize && !s->SendBuffered()) return MBEDTLS_ERR_NET_SEND_FAILED;
  return static_cast<int>(n);
}

int TlsServerStream::BioRecv(void* self, unsigned char* p, size_t n) {
  auto* s = static_cast<TlsServerStream*>(self);
  Impl& im = *s->impl_;
  if (im.inStart == im.inEnd) {
    // Whatever the client is waiting for goes out before we wait for it.
    if (!s->SendBuffered()) return MBEDTLS_ERR_NET_SEND_FAILED;
    if (im.noBlock) return MBEDTLS_ERR_SSL_WANT_READ;
    long got = s->transport_.Receive(im.in.get(), kBufferSize);
    if (got == 0) return 0;  // mbedTLS reads this as the end of the connection
    if (got < 0) {
      if (s->error_.empty()) s->error_ = "the client connection broke or timed out";
      return MBEDTLS_ERR_NET_RECV_FAILED;
    }
    im.inStart = 0;
    im.inEnd = static_cast<size_t>(got);
  }
  size_t take = std::min({n, im.inEnd - im.inStart, static_cast<size_t>(INT_MAX)});
  std::memcpy(p, im.in.get() + im.inStart, take);
  im.inStart += take;
  return static_cast<int>(take);
}

TlsAccept TlsServerStream::Accept(std::shared_ptr<const SiteCert> cert) {
  Impl& im = *impl_;
  if (im.setUp || !cert) {
    error_ = "no certificate, or the stream was used before";
    return TlsAccept::kFailed;
  }
  im.in.reset(new char[kBufferSize]);
  // A TLS client opens with a handshake record (content type 22). Anything
  // else, such as a plain HTTP request after CONNECT, is not ours to serve.
  long got = transport_.Receive(im.in.get(), kBufferSize);
  if (got <= 0) {
    error_ = got == 0 ? "the client closed before the TLS handshake" : "no TLS handshake arrived";
    return TlsAccept::kFailed;
  }
  im.inStart = 0;
  im.inEnd = static_cast<size_t>(got);
  if (static_cast<unsigned char>(im.in[0]) != 22) {
    error_ = "the client did not start a TLS handshake";
    return TlsAccept::kNotTls;
  }
  im.cert = std::move(cert);
  int rc = mbedtls_ssl_setup(&im.ssl, &im.cert->impl().conf);
  if (rc != 0) {
    Fail("TLS set-up", rc);
    return TlsAccept::kFailed;
  }
  im.setUp = true;
  mbedtls_ssl_set_bio(&im.ssl, this, BioSend, BioRecv, nullptr);
  do {
    rc = mbedtls_ssl_handshake(&im.ssl);
  } while (rc == MBEDTLS_ERR_SSL_WANT_READ || rc == MBEDTLS_ERR_SSL_WANT_WRITE);
  if (rc != 0) {
    Fail("TLS handshake", rc);
    SendBuffered();  // the alert that says why, if mbedTLS wrote one
    return TlsAccept::kFailed;
  }
  if (!SendBuffered()) {
    im.failed = true;
    return TlsAccept::kFailed;
  }
  return TlsAccept::kOk;
}

long TlsServerStream::Read(char* p, size_t cap) {
  Impl& im = *impl_;
  if (!im.setUp || im.failed) return -1;
  if (im.closed || cap == 0) return 0;
  size_t got = 0;
  im.noBlock = false;
  while (got < cap) {
    int r = mbedtls_ssl_read(&im.ssl, reinterpret_cast<unsigned char*>(p + got),
                             std::min<size_t>(cap - got, INT_MAX));
    if (r > 0) {
      got += static_cast<size_t>(r);
      im.noBlock = true;  // take more only if it is already here
      continue;
    }
    if (r == MBEDTLS_ERR_SSL_WANT_READ && im.noBlock) break;
    if (r == 0 || r == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || r == MBEDTLS_ERR_SSL_CONN_EOF) {
      im.closed = true;
      break;
    }
    Fail("TLS read", r);
    break;
  }
  im.noBlock = false;
  if (got > 0) return static_cast<long>(got);
  return im.closed && !im.failed ? 0 : -1;
}

bool TlsServerStream::Write(const char* p, size_t n) {
  Impl& im = *impl_;
  if (!im.setUp || im.failed) return false;
  while (n > 0) {
    int r = mbedtls_ssl_write(&im.ssl, reinterpret_cast<const unsigned char*>(p), std::min<size_t>(n, INT_MAX));
    if (r > 0) {
      p += r;
      n -= static_cast<size_t>(r);
      continue;
    }
    Fail("TLS write", r);
    return false;
  }
  return true;
}

bool TlsServerStream::Flush() {
  if (!impl_->setUp || impl_->failed) return false;
  if (!SendBuffered()) {
    impl_->failed = true;
    return false;
  }
  return true;
}

void TlsServerStream::Close() {
  Impl& im = *impl_;
  if (!im.setUp || im.failed) return;
  mbedtls_ssl_close_notify(&im.ssl);
  SendBuffered();
}

std::string TlsServerStream::AlpnProtocol() const {
  const char* p = impl_->setUp ? mbedtls_ssl_get_alpn_protocol(&impl_->ssl) : nullptr;
  return p ? p : "";
}

std::string_view TlsServerStream::Received() const {
  if (!impl_->in) return {};
  return std::string_view(impl_->in.get() + impl_->inStart, impl_->inEnd - impl_->inStart);
}

}  // namespace tunnel
