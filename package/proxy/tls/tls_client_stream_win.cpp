#include "package/proxy/tls/tls_client_stream_win.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tunnel {

TlsClientStream::TlsClientStream(std::unique_ptr<ClientStream> plain, std::string pending)
    : plain_(std::move(plain)), pending_(std::move(pending)), tls_(*this) {}

TlsAccept TlsClientStream::Accept(std::shared_ptr<const SiteCert> cert) {
  TlsAccept r = tls_.Accept(std::move(cert));
  if (r == TlsAccept::kOk && !tls_.WriteInBackground()) return TlsAccept::kFailed;
  return r;
}

long TlsClientStream::Receive(char* p, size_t cap) {
  if (pendingAt_ < pending_.size()) {
    size_t take = std::min(cap, pending_.size() - pendingAt_);
    std::memcpy(p, pending_.data() + pendingAt_, take);
    pendingAt_ += take;
    if (pendingAt_ == pending_.size()) {
      pending_.clear();
      pendingAt_ = 0;
    }
    return static_cast<long>(take);
  }
  size_t got = 0;
  lastPlain_ = plain_->Recv(p, std::min<size_t>(cap, LONG_MAX), got);
  if (lastPlain_ == IoResult::kOk) return static_cast<long>(got);
  return lastPlain_ == IoResult::kClosed ? 0 : -1;
}

bool TlsClientStream::SendAll(const char* p, size_t n) { return plain_->Send(p, n); }

IoResult TlsClientStream::Recv(char* p, size_t cap, size_t& got) {
  got = 0;
  lastPlain_ = IoResult::kOk;
  long n = tls_.Read(p, cap);
  if (n > 0) {
    got = static_cast<size_t>(n);
    return IoResult::kOk;
  }
  if (n == 0) return IoResult::kClosed;
  return lastPlain_ == IoResult::kTimeout ? IoResult::kTimeout : IoResult::kError;
}

bool TlsClientStream::Send(WSABUF* bufs, DWORD count) {
  for (DWORD i = 0; i < count; ++i)
    if (!tls_.Write(bufs[i].buf, bufs[i].len)) return false;
  return true;
}

void TlsClientStream::EndSending() {
  tls_.Close();
  plain_->EndSending();
}

}  // namespace tunnel
