// Connections to the fetch server made ahead of time. Under Wine, making a
// socket and connecting it costs about a dozen round trips to the wine
// server; a fetch server that closes every connection after one answer (as
// PHP's built-in server does) would put them on every request's path. A
// helper thread keeps a spare connection ready and closes used ones.
// Windows only.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "package/proxy/net_win.h"
#include "package/proxy/upstream.h"

namespace tunnel {

class ConnectionPool {
 public:
  explicit ConnectionPool(const UpstreamSettings& settings);
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // A connected socket with NODELAY and the time-outs set: a spare one when
  // a fresh spare is ready (`spare` true: the server may have dropped it
  // meanwhile), otherwise one connected now.
  Socket Take(std::string& error, bool& spare);
  // A socket connected now, never a spare.
  Socket TakeFresh(std::string& error);
  // Lets the helper thread make a new spare. Called once the request has
  // gone out: waking a thread costs a round trip to the wine server, which
  // then overlaps with the fetch server's work.
  void Replenish();
  // Closes a socket on the helper thread (within a second).
  void Discard(Socket s);

  // The process-wide pool (the proxy has one fetch server); its helper
  // thread lives as long as the process.
  static ConnectionPool& Shared(const UpstreamSettings& settings);

 private:
  void Run();
  bool Connect(Socket& out, std::string& error);

  static constexpr size_t kSpares = 2;
  static constexpr ULONGLONG kMaxSpareAgeMs = 5000;  // servers drop connections that stay silent

  UpstreamSettings settings_;
  std::string label_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::pair<Socket, ULONGLONG>> spares_;
  std::vector<Socket> doomed_;
  bool refill_ = false;
  std::mutex addressLock_;
  std::vector<SocketAddress> addresses_;
};

}  // namespace tunnel
