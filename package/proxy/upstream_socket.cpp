// Upstream over plain sockets with large buffers: the fetch server speaks
// HTTP/1.1, its response body arrives chunked, Content-Length-delimited or
// delimited by closing.
#include <cstring>
#include <vector>

#include "package/proxy/connection_pool_win.h"
#include "package/proxy/envelope.h"
#include "package/proxy/net_win.h"
#include "package/proxy/upstream.h"

namespace tunnel {
namespace {

constexpr size_t kBufferSize = 1 << 20;

class SocketUpstream final : public Upstream {
 public:
  explicit SocketUpstream(const UpstreamSettings& s) : settings_(s), pool_(ConnectionPool::Shared(s)) {
    hostField_ = settings_.url.host;
    if (settings_.url.port != 80) hostField_.append(1, ':').append(std::to_string(settings_.url.port));
  }

  ~SocketUpstream() override { Drop(); }

  UpResult Begin(std::string_view first, uint64_t total) override {
    std::string head;
    head.reserve(256 + first.size());
    head.append("POST ").append(settings_.url.path).append(" HTTP/1.1\r\nHost: ").append(hostField_);
    head.append("\r\nContent-Type: ").append(kEnvelopeContentType);
    head.append("\r\nContent-Length: ").append(std::to_string(total));
    head.append("\r\nUser-Agent: corvalen-proxy/1\r\n\r\n");
    replay_.clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
      // A kept-alive or spare connection may turn out to have been closed
      // by the server; a connection made now may not.
      bool reused = true;
      if (sock_ && IdleConnectionIsStale(sock_.Get())) Drop();
      if (!sock_) {
        sock_ = attempt == 0 ? pool_.Take(error_, reused) : pool_.TakeFresh(error_);
        if (!sock_) return UpResult::kConnectFailed;
      }
      WSABUF bufs[2];
      bufs[0].buf = head.data();
      bufs[0].len = static_cast<ULONG>(head.size());
      bufs[1].buf = const_cast<char*>(first.data());
      bufs[1].len = static_cast<ULONG>(first.size());
      if (SendAll(sock_.Get(), bufs, 2)) {
        // If such a connection brings no answer at all, a request that went
        // out whole is sent once more on a new connection (its nonce keeps
        // the server from running it twice).
        if (reused && first.size() == total) replay_ = head.append(first);
        pool_.Replenish();
        return UpResult::kOk;
      }
      Drop();
      if (!reused) break;
    }
    error_ = "sending to the fetch server failed";
    return UpResult::kFailed;
  }

  UpResult Write(const char* p, size_t n) override {
    if (!sock_ || !SendAll(sock_.Get(), p, n)) {
      error_ = "sending to the fetch server failed";
      return UpResult::kFailed;
    }
    return UpResult::kOk;
  }

  UpResult ReceiveHead(OuterHead& out) override {
    if (!buf_) buf_.reset(new char[kBufferSize]);
    start_ = end_ = 0;
    for (;;) {
      ResponseHead head;
      size_t consumed = 0;
      std::string err;
      ParseStatus st = ParseResponseHead(std::string_view(buf_.get() + start_, end_ - start_), HeadLimits(), head,
                                         consumed, err);
      if (st == ParseStatus::kBad) {
        error_ = "the fetch server's answer is not HTTP (" + err + ")";
        return UpResult::kBadResponse;
      }
      if (st == ParseStatus::kDone) {
        start_ += consumed;
        if (head.status / 100 == 1) continue;  // 100 Continue and the like
        BodyFraming framing;
        if (!ResponseBodyFraming(head, "POST", framing, err)) {
          error_ = "the fetch server's answer is not usable (" + err + ")";
          return UpResult::kBadResponse;
        }
        framing_ = framing.kind;
        remaining_ = framing.length;
        chunked_.Reset();
        bodyEnded_ = framing_ == BodyKind::kNone;
        keepAlive_ = head.version == 11 && !HasToken(head.headers, "connection", "close");
        out.status = head.status;
        const std::string* ct = FindHeader(head.headers, "content-type");
        out.contentType = ct ? *ct : std::string();
        const std::string* mk = FindHeader(head.headers, "x-corvalen-fetch");
        out.fetchMarker = mk ? *mk : std::string();
        return UpResult::kOk;
      }
      if (start_ > 0) {
        std::memmove(buf_.get(), buf_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
      }
      size_t got = 0;
      IoResult r = RecvSome(sock_.Get(), buf_.get() + end_, kBufferSize - end_, got);
      if (r == IoResult::kTimeout) {
        error_ = "the fetch server did not answer in time";
        return UpResult::kTimeout;
      }
      if (r != IoResult::kOk && end_ == 0 && !replay_.empty()) {
        std::string again = std::move(replay_);
        replay_.clear();
        Drop();
        sock_ = pool_.TakeFresh(error_);
        if (!sock_) return UpResult::kConnectFailed;
        if (!SendAll(sock_.Get(), again.data(), again.size())) {
          error_ = "sending to the fetch server failed";
          return UpResult::kFailed;
        }
        continue;
      }
      if (r != IoResult::kOk) {
        error_ = end_ == 0 ? "the fetch server closed the connection without an answer"
                           : "the fetch server's answer broke off";
        return UpResult::kBadResponse;
      }
      end_ += got;
    }
  }

  UpResult Read(const char*& p, size_t& n) override {
    n = 0;
    for (;;) {
      if (bodyEnded_) return UpResult::kOk;
      if (start_ == end_) {
        start_ = end_ = 0;
        size_t cap = kBufferSize;
        if (framing_ == BodyKind::kLength && remaining_ < cap) cap = static_cast<size_t>(remaining_);
        size_t got = 0;
        IoResult r = RecvSome(sock_.Get(), buf_.get(), cap, got);
        if (r == IoResult::kClosed && framing_ == BodyKind::kUntilClose) {
          bodyEnded_ = true;
          keepAlive_ = false;
          return UpResult::kOk;
        }
        if (r == IoResult::kTimeout) {
          error_ = "the fetch server stalled";
          return UpResult::kTimeout;
        }
        if (r != IoResult::kOk) {
          error_ = "the fetch server's answer broke off";
          return UpResult::kFailed;
        }
        end_ = got;
      }
      char* from = buf_.get() + start_;
      size_t avail = end_ - start_;
      switch (framing_) {
        case BodyKind::kLength: {
          size_t take = remaining_ < avail ? static_cast<size_t>(remaining_) : avail;
          p = from;
          n = take;
          start_ += take;
          remaining_ -= take;
          if (remaining_ == 0) bodyEnded_ = true;
          return UpResult::kOk;
        }
        case BodyKind::kUntilClose:
          p = from;
          n = avail;
          start_ = end_;
          return UpResult::kOk;
        case BodyKind::kChunked: {
          // Decode in place: the payload pieces move to the front of the
          // unread bytes.
          char* out = from;
          size_t used = chunked_.Feed(from, avail, [&](const char* d, size_t len) {
            if (out != d) std::memmove(out, d, len);
            out += len;
          });
          start_ += used;
          if (chunked_.Bad()) {
            error_ = "the fetch server's chunked answer is malformed";
            return UpResult::kBadResponse;
          }
          if (chunked_.Done()) bodyEnded_ = true;
          if (out != from) {
            p = from;
            n = static_cast<size_t>(out - from);
            return UpResult::kOk;
          }
          continue;
        }
        default:
          bodyEnded_ = true;
          return UpResult::kOk;
      }
    }
  }

  void Finish(bool reusable) override {
    // A delimited answer whose last framing bytes are still on the way is
    // read to its end so that the connection can carry the next request.
    if (reusable && keepAlive_ && !bodyEnded_ && framing_ != BodyKind::kUntilClose) {
      for (int i = 0; i < 4 && !bodyEnded_; ++i) {
        const char* p = nullptr;
        size_t n = 0;
        if (Read(p, n) != UpResult::kOk || n != 0) break;
      }
    }
    if (!reusable || !keepAlive_ || !bodyEnded_ || start_ != end_) Drop();
    start_ = end_ = 0;
  }

  const std::string& Error() const override { return error_; }

 private:
  void Drop() { pool_.Discard(std::move(sock_)); }

  UpstreamSettings settings_;
  std::string hostField_;
  ConnectionPool& pool_;
  std::string replay_;  // the whole last request, while it may be sent again
  Socket sock_;
  std::unique_ptr<char[]> buf_;
  size_t start_ = 0, end_ = 0;
  BodyKind framing_ = BodyKind::kNone;
  uint64_t remaining_ = 0;
  ChunkedDecoder chunked_;
  bool bodyEnded_ = false;
  bool keepAlive_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<Upstream> MakeWinHttpUpstream(const UpstreamSettings& settings);

std::unique_ptr<Upstream> MakeUpstream(const UpstreamSettings& settings) {
  if (settings.url.scheme == "https") return MakeWinHttpUpstream(settings);
  return std::make_unique<SocketUpstream>(settings);
}

}  // namespace tunnel
