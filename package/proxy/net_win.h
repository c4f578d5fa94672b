// Blocking Winsock helpers of the proxy. Windows only.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/handles.h"

namespace tunnel {

struct SocketTraits {
  using Value = SOCKET;
  static Value Invalid() { return INVALID_SOCKET; }
  static bool IsInvalid(Value v) { return v == INVALID_SOCKET; }
  static void Release(Value v) { closesocket(v); }
};
using Socket = UniqueHandle<SocketTraits>;

enum class IoResult { kOk, kClosed, kTimeout, kError };

// Sends every byte of every buffer (one call when the stack takes it all).
bool SendAll(SOCKET s, WSABUF* bufs, DWORD count);
bool SendAll(SOCKET s, const char* p, size_t n);
// One recv: got > 0 on kOk.
IoResult RecvSome(SOCKET s, char* p, size_t cap, size_t& got);
void SetRecvTimeout(SOCKET s, DWORD ms);
void SetSendTimeout(SOCKET s, DWORD ms);
void SetNoDelay(SOCKET s);
struct SocketAddress {
  sockaddr_storage addr{};
  int length = 0;
  int family = 0;
};
// The addresses of host (a name, an IPv4 or a bracketed IPv6 literal).
bool ResolveHost(const std::string& host, uint16_t port, std::vector<SocketAddress>& out, std::string& error);
// Connects to the first address that answers within timeoutMs; an invalid
// socket on failure with the reason in `error`.
Socket ConnectTcp(const std::vector<SocketAddress>& addresses, DWORD timeoutMs, const std::string& label,
                  std::string& error);
// True when an idle kept-alive connection was closed or sent something
// unasked (it cannot be reused).
bool IdleConnectionIsStale(SOCKET s);

}  // namespace tunnel
