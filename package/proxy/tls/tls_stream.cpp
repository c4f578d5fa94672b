#include "package/proxy/tls/tls_stream.h"

#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

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
  std::atomic<bool> failed{false};

  // Writing in the background: plaintext waits in `queue` for the writer
  // thread, which encrypts and sends it while the caller goes on.
  std::thread writer;
  std::mutex mutex;
  std::condition_variable changed;
  std::string queue;
  bool busy = false;  // the writer holds a batch
  bool stop = false;

  Impl() { mbedtls_ssl_init(&ssl); }
  ~Impl() { mbedtls_ssl_free(&ssl); }
};

TlsServerStream::TlsServerStream(TlsTransport& transport) : impl_(std::make_unique<Impl>()), transport_(transport) {}
TlsServerStream::~TlsServerStream() { StopWriter(); }

void TlsServerStream::StopWriter() {
  Impl& im = *impl_;
  if (!im.writer.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(im.mutex);
    im.stop = true;
  }
  im.changed.notify_all();
  im.writer.join();
}

bool TlsServerStream::WriteInBackground() {
  Impl& im = *impl_;
  if (!im.setUp || im.failed || im.writer.joinable()) return false;
  im.writer = std::thread([this] {
    Impl& w = *impl_;
    std::string batch;
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
      w.changed.wait(lock, [&] { return w.stop || !w.queue.empty(); });
      if (w.queue.empty()) return;  // stopped, nothing left
      batch.swap(w.queue);
      w.busy = true;
      lock.unlock();
      bool ok = !w.failed && WriteNow(batch.data(), batch.size()) && SendBuffered();
      batch.clear();
      lock.lock();
      w.busy = false;
      if (!ok) w.failed = true;
      w.changed.notify_all();
    }
  });
  return true;
}

bool TlsServerStream::Sync() {
  Impl& im = *impl_;
  if (!im.writer.joinable()) return !im.failed;
  std::unique_lock<std::mutex> lock(im.mutex);
  im.changed.wait(lock, [&] { return (im.queue.empty() && !im.busy) || im.failed; });
  // After a failure the writer may still hold its batch; wait for it too.
  im.changed.wait(lock, [&] { return !im.busy; });
  return !im.failed;
}

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
  if (!im.setUp || !Sync()) return -1;
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
  if (!im.writer.joinable()) return WriteNow(p, n);
  while (n > 0) {
    std::unique_lock<std::mutex> lock(im.mutex);
    im.changed.wait(lock, [&] { return im.queue.size() < kBufferSize || im.failed; });
    if (im.failed) return false;
    size_t take = std::min(n, kBufferSize - im.queue.size());
    if (im.queue.capacity() < kBufferSize) im.queue.reserve(kBufferSize);
    im.queue.append(p, take);
    p += take;
    n -= take;
    lock.unlock();
    im.changed.notify_all();
  }
  return true;
}

bool TlsServerStream::WriteNow(const char* p, size_t n) {
  Impl& im = *impl_;
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
  if (impl_->writer.joinable()) return Sync();
  if (!SendBuffered()) {
    impl_->failed = true;
    return false;
  }
  return true;
}

void TlsServerStream::Close() {
  Impl& im = *impl_;
  if (!im.setUp) return;
  bool ok = Sync();
  StopWriter();
  if (!ok || im.failed) return;
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
