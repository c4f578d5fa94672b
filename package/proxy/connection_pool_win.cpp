#include "package/proxy/connection_pool_win.h"

#include <thread>

namespace tunnel {

ConnectionPool::ConnectionPool(const UpstreamSettings& settings) : settings_(settings) {
  label_ = settings_.url.host + ":" + std::to_string(settings_.url.port);
  std::thread([this] { Run(); }).detach();
}

ConnectionPool& ConnectionPool::Shared(const UpstreamSettings& settings) {
  // Never destroyed: the helper thread may still use it while the process ends.
  static ConnectionPool* pool = new ConnectionPool(settings);
  return *pool;
}

bool ConnectionPool::Connect(Socket& out, std::string& error) {
  std::vector<SocketAddress> addresses;
  {
    std::lock_guard<std::mutex> g(addressLock_);
    addresses = addresses_;
  }
  // Looked up once, and again after a failed connection.
  if (addresses.empty()) {
    if (!ResolveHost(settings_.url.host, settings_.url.port, addresses, error)) return false;
    std::lock_guard<std::mutex> g(addressLock_);
    addresses_ = addresses;
  }
  out = ConnectTcp(addresses, settings_.connectTimeoutMs, label_, error);
  if (!out) {
    std::lock_guard<std::mutex> g(addressLock_);
    addresses_.clear();
    return false;
  }
  SetRecvTimeout(out.Get(), settings_.responseTimeoutMs);
  SetSendTimeout(out.Get(), settings_.responseTimeoutMs);
  return true;
}

Socket ConnectionPool::TakeFresh(std::string& error) {
  Socket s;
  Connect(s, error);
  return s;
}

Socket ConnectionPool::Take(std::string& error, bool& spare) {
  spare = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    ULONGLONG now = GetTickCount64();
    while (!spares_.empty()) {
      auto candidate = std::move(spares_.front());
      spares_.pop_front();
      if (now - candidate.second < kMaxSpareAgeMs) {
        refill_ = true;
        spare = true;
        return std::move(candidate.first);
      }
      doomed_.push_back(std::move(candidate.first));
    }
    refill_ = true;
    wake_.notify_one();
  }
  Socket s;
  Connect(s, error);
  return s;
}

void ConnectionPool::Replenish() {
  std::lock_guard<std::mutex> g(lock_);
  if ((refill_ && spares_.size() < kSpares) || !doomed_.empty()) wake_.notify_one();
}

void ConnectionPool::Discard(Socket s) {
  if (!s) return;
  std::lock_guard<std::mutex> g(lock_);
  doomed_.push_back(std::move(s));
}

void ConnectionPool::Run() {
  for (;;) {
    std::vector<Socket> doomed;
    bool refill = false;
    {
      std::unique_lock<std::mutex> g(lock_);
      wake_.wait_for(g, std::chrono::seconds(1),
                     [&] { return !doomed_.empty() || (refill_ && spares_.size() < kSpares); });
      // Spares left unused for a while are closed, and none are made again
      // until the next request: an idle proxy holds no connections.
      ULONGLONG now = GetTickCount64();
      while (!spares_.empty() && now - spares_.front().second >= kMaxSpareAgeMs) {
        doomed_.push_back(std::move(spares_.front().first));
        spares_.pop_front();
        refill_ = false;
      }
      doomed.swap(doomed_);
      refill = refill_ && spares_.size() < kSpares;
    }
    doomed.clear();  // closes them
    if (!refill) continue;
    Socket s;
    std::string error;
    bool ok = Connect(s, error);
    std::lock_guard<std::mutex> g(lock_);
    if (ok) {
      spares_.emplace_back(std::move(s), GetTickCount64());
    } else {
      refill_ = false;  // tried again on the next request
    }
  }
}

}  // namespace tunnel
