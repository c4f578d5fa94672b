#include "package/proxy/tls/client_link_win.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tunnel {

long ClientLink::Receive(char* p, size_t cap) {
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
  IoResult r = RecvSome(s_, p, std::min<size_t>(cap, LONG_MAX), got);
  timedOut_ = r == IoResult::kTimeout;
  if (r == IoResult::kOk) return static_cast<long>(got);
  return r == IoResult::kClosed ? 0 : -1;
}

bool ClientLink::SendAll(const char* p, size_t n) { return tunnel::SendAll(s_, p, n); }

IoResult ClientLink::Recv(char* p, size_t cap, size_t& got) {
  got = 0;
  if (!tls_) {
    long n = Receive(p, cap);
    if (n > 0) got = static_cast<size_t>(n);
    return n > 0 ? IoResult::kOk : n == 0 ? IoResult::kClosed : timedOut_ ? IoResult::kTimeout : IoResult::kError;
  }
  timedOut_ = false;
  long n = tls_->Read(p, cap);
  if (n > 0) {
    got = static_cast<size_t>(n);
    return IoResult::kOk;
  }
  if (n == 0) return IoResult::kClosed;
  return timedOut_ ? IoResult::kTimeout : IoResult::kError;
}

bool ClientLink::Send(WSABUF* bufs, DWORD count) {
  if (!tls_) return tunnel::SendAll(s_, bufs, count);
  // Queued for the stream's writer (see UseTls); it goes out while the
  // session fetches the next piece, and before the session reads again.
  for (DWORD i = 0; i < count; ++i)
    if (!tls_->Write(bufs[i].buf, bufs[i].len)) return false;
  return true;
}

bool ClientLink::Send(const char* p, size_t n) {
  if (!tls_) return tunnel::SendAll(s_, p, n);
  return tls_->WriteAll(p, n);
}

}  // namespace tunnel
