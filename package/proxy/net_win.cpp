#include "package/proxy/net_win.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tunnel {

bool SendAll(SOCKET s, WSABUF* bufs, DWORD count) {
  while (count > 0) {
    if (bufs[0].len == 0) {
      ++bufs;
      --count;
      continue;
    }
    DWORD sent = 0;
    if (WSASend(s, bufs, count, &sent, 0, nullptr, nullptr) != 0) return false;
    while (count > 0 && sent >= bufs[0].len) {
      sent -= bufs[0].len;
      ++bufs;
      --count;
    }
    if (count > 0) {
      bufs[0].buf += sent;
      bufs[0].len -= sent;
    }
  }
  return true;
}

bool SendAll(SOCKET s, const char* p, size_t n) {
  while (n > 0) {
    WSABUF b;
    b.buf = const_cast<char*>(p);
    b.len = static_cast<ULONG>(std::min<size_t>(n, 1u << 30));
    size_t len = b.len;
    if (!SendAll(s, &b, 1)) return false;
    p += len;
    n -= len;
  }
  return true;
}

IoResult RecvSome(SOCKET s, char* p, size_t cap, size_t& got) {
  got = 0;
  int r = recv(s, p, static_cast<int>(std::min<size_t>(cap, 1u << 30)), 0);
  if (r > 0) {
    got = static_cast<size_t>(r);
    return IoResult::kOk;
  }
  if (r == 0) return IoResult::kClosed;
  int e = WSAGetLastError();
  if (e == WSAETIMEDOUT || e == WSAEWOULDBLOCK) return IoResult::kTimeout;
  return IoResult::kError;
}

void SetRecvTimeout(SOCKET s, DWORD ms) {
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void SetSendTimeout(SOCKET s, DWORD ms) {
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void SetNoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

namespace {

struct AddrInfoTraits {
  using Value = addrinfo*;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { freeaddrinfo(v); }
};
using AddrInfo = UniqueHandle<AddrInfoTraits>;

}  // namespace

bool ResolveHost(const std::string& host, uint16_t port, std::vector<SocketAddress>& out, std::string& error) {
  std::string name = host;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  AddrInfo list;
  std::string service = std::to_string(port);
  out.clear();
  if (getaddrinfo(name.c_str(), service.c_str(), &hints, list.Receive()) != 0 || !list) {
    error = "cannot resolve " + name;
    return false;
  }
  for (addrinfo* a = list.Get(); a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress sa;
    std::memcpy(&sa.addr, a->ai_addr, a->ai_addrlen);
    sa.length = static_cast<int>(a->ai_addrlen);
    sa.family = a->ai_family;
    out.push_back(sa);
  }
  if (out.empty()) error = "no address for " + name;
  return !out.empty();
}

namespace {

bool IsLoopback(const SocketAddress& a) {
  if (a.family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&a.addr);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (a.family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a.addr);
    static const unsigned char kLoop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(&in6->sin6_addr, kLoop, 16) == 0;
  }
  return false;
}

}  // namespace

Socket ConnectTcp(const std::vector<SocketAddress>& addresses, DWORD timeoutMs, const std::string& label,
                  std::string& error) {
  error = "cannot connect to " + label;
  for (const SocketAddress& a : addresses) {
    Socket s(socket(a.family, SOCK_STREAM, IPPROTO_TCP));
    if (!s) continue;
    // A connection on the loopback interface is made or refused at once:
    // the time-out machinery (three more socket calls, each costly under
    // Wine) is only needed for other addresses.
    if (IsLoopback(a)) {
      if (connect(s.Get(), reinterpret_cast<const sockaddr*>(&a.addr), a.length) != 0) continue;
      SetNoDelay(s.Get());
      error.clear();
      return s;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    int r = connect(s.Get(), reinterpret_cast<const sockaddr*>(&a.addr), a.length);
    if (r != 0 && WSAGetLastError() != WSAEWOULDBLOCK) continue;
    if (r != 0) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s.Get(), &writable);
      FD_SET(s.Get(), &failed);
      timeval tv{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
      int ready = select(0, nullptr, &writable, &failed, &tv);
      if (ready == 0) error = "connection to " + label + " timed out";
      // Windows reports a refused connection through the except set.
      if (ready <= 0 || FD_ISSET(s.Get(), &failed) || !FD_ISSET(s.Get(), &writable)) continue;
    }
    nonBlocking = 0;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    SetNoDelay(s.Get());
    error.clear();
    return s;
  }
  return Socket();
}

bool IdleConnectionIsStale(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval tv{0, 0};
  // Readable while idle means either EOF or unexpected bytes: both unusable.
  return select(0, &readable, nullptr, nullptr, &tv) != 0;
}

}  // namespace tunnel
