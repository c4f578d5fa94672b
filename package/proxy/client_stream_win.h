// The browser's side of a session. Plain TCP today; a TLS layer (a CONNECT
// ended locally with a certificate of our own) can take its place without
// touching the relay. Windows only.
#pragma once

#include "package/proxy/net_win.h"

namespace tunnel {

class ClientStream {
 public:
  virtual ~ClientStream() = default;
  // One read: got > 0 on kOk.
  virtual IoResult Recv(char* p, size_t cap, size_t& got) = 0;
  // Sends every byte of every buffer.
  virtual bool Send(WSABUF* bufs, DWORD count) = 0;
  bool Send(const char* p, size_t n) {
    WSABUF b;
    b.buf = const_cast<char*>(p);
    b.len = static_cast<ULONG>(n);
    return Send(&b, 1);
  }
  // Ends the sending direction in order (the browser sees the end of data).
  virtual void EndSending() = 0;
};

class SocketStream final : public ClientStream {
 public:
  SocketStream(SOCKET s, DWORD timeoutMs) : sock_(s) {
    SetNoDelay(s);
    SetRecvTimeout(s, timeoutMs);
    SetSendTimeout(s, timeoutMs);
  }
  IoResult Recv(char* p, size_t cap, size_t& got) override { return RecvSome(sock_.Get(), p, cap, got); }
  bool Send(WSABUF* bufs, DWORD count) override { return SendAll(sock_.Get(), bufs, count); }
  void EndSending() override { shutdown(sock_.Get(), SD_SEND); }

 private:
  Socket sock_;
};

}  // namespace tunnel
