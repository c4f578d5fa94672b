// One browser connection: requests are read one after the other, each is sent
// through the fetch server and its answer streamed back as it arrives.
#include "package/proxy/session_win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <ctime>

#include "package/proxy/body_spool_win.h"
#include "package/proxy/client_stream_win.h"
#include "package/proxy/envelope.h"
#include "package/proxy/hmac.h"
#include "package/proxy/net_win.h"
#include "package/proxy/relay.h"
#include "package/proxy/upstream.h"
#include "package/proxy/tls/https_requests.h"
#include "package/proxy/tls/tls_client_stream_win.h"

namespace tunnel {
namespace {

constexpr size_t kClientBuffer = 1 << 20;

// Where the browser connection stands after one exchange.
enum class Next { kContinue, kClose };

// Sends the target's response to the browser: the head once, then the body
// pieces of one upstream read in one gathered send.
class ClientWriter final : public EnvelopeSink {
 public:
  ClientWriter(ClientStream& client, const RequestHead& request, bool wantsClose)
      : client_(client), request_(request), wantsClose_(wantsClose) {}

  bool OnHead(const ResponseHead& head) override {
    if (!PlanClientResponse(head, request_.method, request_.version, wantsClose_, plan_)) {
      error_ = "the target's status cannot be relayed";
      return false;
    }
    headPending_ = true;
    return true;
  }

  bool OnData(const char* p, size_t n) override {
    if (n == 0) return true;
    if (plan_.framing == BodyKind::kNone) return true;  // a body where none belongs is dropped
    if (plan_.framing == BodyKind::kLength && sent_ + pendingBytes_ + n > plan_.length) {
      error_ = "the target sent more than its Content-Length";
      return false;
    }
    if (pieces_.size() >= kMaxPieces && !Flush(false)) return false;
    WSABUF b;
    b.buf = const_cast<char*>(p);
    b.len = static_cast<ULONG>(n);
    pieces_.push_back(b);
    pendingBytes_ += n;
    return true;
  }

  // Sends what is pending; `last` adds the end of a chunked body.
  bool Flush(bool last) {
    WSABUF bufs[kMaxPieces + 4];
    DWORD count = 0;
    char chunkHead[24];
    if (headPending_) {
      bufs[count].buf = plan_.head.data();
      bufs[count++].len = static_cast<ULONG>(plan_.head.size());
    }
    bool chunked = plan_.framing == BodyKind::kChunked;
    if (pendingBytes_ > 0 && chunked) {
      int len = std::snprintf(chunkHead, sizeof chunkHead, "%llx\r\n", static_cast<unsigned long long>(pendingBytes_));
      bufs[count].buf = chunkHead;
      bufs[count++].len = static_cast<ULONG>(len);
    }
    for (const WSABUF& b : pieces_) bufs[count++] = b;
    static char kCrlf[] = "\r\n";
    static char kCrlfEnd[] = "\r\n0\r\n\r\n";
    static char kEnd[] = "0\r\n\r\n";
    if (chunked && pendingBytes_ > 0) {
      bufs[count].buf = last ? kCrlfEnd : kCrlf;
      bufs[count++].len = last ? 7 : 2;
    } else if (chunked && last) {
      bufs[count].buf = kEnd;
      bufs[count++].len = 5;
    }
    bool ok = count == 0 || client_.Send(bufs, count);
    headPending_ = false;
    sent_ += pendingBytes_;
    pendingBytes_ = 0;
    pieces_.clear();
    if (!ok) error_ = "the browser connection broke";
    return ok;
  }

  bool HeadSent() const { return !plan_.head.empty() && !headPending_; }
  const ClientResponsePlan& plan() const { return plan_; }
  uint64_t sent() const { return sent_; }
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kMaxPieces = 60;
  ClientStream& client_;
  const RequestHead& request_;
  bool wantsClose_;
  ClientResponsePlan plan_;
  bool headPending_ = false;
  std::vector<WSABUF> pieces_;
  uint64_t pendingBytes_ = 0;
  uint64_t sent_ = 0;
  std::string error_;
};

class Session {
 public:
  Session(std::unique_ptr<ClientStream> client, const SessionSettings& settings)
      : client_(std::move(client)), settings_(settings) {}

  void Run() {
    buf_.reset(new char[kClientBuffer]);
    if (settings_.config.fetchServerValid) {
      UpstreamSettings us;
      us.url = settings_.config.fetchUrl;
      us.responseTimeoutMs = settings_.config.timeoutMs;
      upstream_ = MakeUpstream(us);
    }
    while (Serve() == Next::kContinue) {
    }
    client_->EndSending();
  }

 private:
  Next SendPage(int status, const char* reason, const char* title, const std::string& detail, bool close) {
    std::string page = ProxyPage(status, reason, title, detail, close);
    if (!client_->Send(page.data(), page.size())) return Next::kClose;
    return close ? Next::kClose : Next::kContinue;
  }

  // Reads more bytes from the browser behind the pending ones.
  IoResult Fill() {
    if (start_ > 0 && start_ == end_) start_ = end_ = 0;
    if (end_ == kClientBuffer && start_ > 0) {
      std::memmove(buf_.get(), buf_.get() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    if (end_ == kClientBuffer) return IoResult::kError;
    size_t got = 0;
    IoResult r = client_->Recv(buf_.get() + end_, kClientBuffer - end_, got);
    if (r == IoResult::kOk) end_ += got;
    return r;
  }

  Next Serve() {
    RequestHead req;
    std::string error;
    size_t headLength = 0;
    HeadLimits limits;
    for (;;) {
      ParseStatus st = ParseRequestHead(std::string_view(buf_.get() + start_, end_ - start_), limits, req,
                                        headLength, error);
      if (st == ParseStatus::kDone) break;
      if (st == ParseStatus::kBad) return SendPage(400, "Bad Request", "Bad Request", error, true);
      bool idle = start_ == end_;
      IoResult r = Fill();
      if (r == IoResult::kOk) continue;
      if (idle) return Next::kClose;  // the browser closed or left a kept-alive connection idle
      if (r == IoResult::kTimeout)
        return SendPage(408, "Request Timeout", "Request Timeout", "the request did not arrive in time", true);
      return Next::kClose;
    }
    start_ += headLength;

    BodyFraming framing;
    if (!RequestBodyFraming(req, framing, error)) return SendPage(400, "Bad Request", "Bad Request", error, true);
    bool wantsClose = ClientWantsClose(req);

    if (EqualsNoCase(req.method, "CONNECT")) {
      if (framing.kind != BodyKind::kNone)
        return SendPage(400, "Bad Request", "Bad Request", "a CONNECT request carries no body", true);
      return OpenTunnel(req);
    }
    // A protocol switch needs a two-way byte stream to the target, which a
    // fetch server answering one request at a time cannot give. An offer of
    // HTTP/2 (h2c) alone is only dropped, like every hop-by-hop field: the
    // request still gets its HTTP/1.1 answer.
    std::vector<std::string> upgrades = HeaderTokens(req.headers, "upgrade");
    bool onlyH2c = std::all_of(upgrades.begin(), upgrades.end(), [](const std::string& t) { return t == "h2c"; });
    if (const std::string* upgrade = FindHeader(req.headers, "upgrade"); upgrade && !onlyH2c) {
      return SendPage(501, "Not Implemented", "Protocol upgrade not supported",
                      "This proxy passes every request through a fetch server, one request at a time; WebSocket "
                      "and other protocol upgrades (Upgrade: " + *upgrade + ") cannot pass through it.",
                      true);
    }
    std::string targetUrl;
    if (!tunnelHost_.empty()) {
      if (!TunnelRequestUrl(req.target, tunnelHost_, tunnelPort_, targetUrl, error))
        return SendPage(400, "Bad Request", "Bad Request", error, true);
    } else {
      LocalPage local = FindLocalPage(req.target, settings_.config.listenIp, settings_.config.listenPort);
      if (local != LocalPage::kNone) return ServeLocalPage(local, req, wantsClose || framing.kind != BodyKind::kNone);
      UrlParts url;
      if (!ParseAbsoluteUrl(req.target, url)) {
        std::string why = req.target.empty() || req.target[0] == '/'
                              ? "This is a proxy: set 127.0.0.1 as the browser's HTTP proxy and request full URLs."
                              : "The request target is not an absolute http:// URL.";
        return SendPage(400, "Bad Request", "Bad Request", why, true);
      }
      targetUrl = req.target;
    }
    if (const std::string* expect = FindHeader(req.headers, "expect")) {
      if (!EqualsNoCase(TrimOws(*expect), "100-continue"))
        return SendPage(417, "Expectation Failed", "Expectation Failed", "unsupported Expect value", true);
      if (framing.kind != BodyKind::kNone) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!client_->Send(kContinue, sizeof kContinue - 1)) return Next::kClose;
      }
    }

    // A chunked body is gathered first (memory, then a temporary file): the
    // envelope states the length before the body.
    BodySpool spool;
    if (framing.kind == BodyKind::kChunked) {
      ChunkedDecoder dec;
      bool stored = true;
      for (;;) {
        size_t used = dec.Feed(buf_.get() + start_, end_ - start_,
                               [&](const char* p, size_t n) { stored = stored && spool.Append(p, n); });
        start_ += used;
        if (dec.Bad()) return SendPage(400, "Bad Request", "Bad Request", "malformed chunked body", true);
        if (!stored)
          return SendPage(413, "Content Too Large", "Request body too large",
                          "a chunked request body may hold at most 1 GB (and must fit in the temporary folder)",
                          true);
        if (dec.Done()) break;
        if (Fill() != IoResult::kOk) return Next::kClose;
      }
    }

    if (!upstream_) {
      return SendPage(502, "Bad Gateway", "No fetch server",
                      "proxy.ini names no usable fetch server (section php, key fetchserver): \"" +
                          settings_.config.fetchServer + "\"",
                      wantsClose || framing.kind == BodyKind::kLength);
    }

    FetchRequest fr;
    fr.method = req.method;
    fr.url = targetUrl;
    fr.time = static_cast<int64_t>(std::time(nullptr));
    unsigned char nonce[16];
    if (!RandomBytes(nonce, sizeof nonce))
      return SendPage(500, "Internal Server Error", "Internal error", "no random numbers", true);
    fr.nonce = HexLower(std::string_view(reinterpret_cast<const char*>(nonce), sizeof nonce));
    fr.bodyLength = framing.kind == BodyKind::kChunked ? spool.size() : framing.length;
    fr.authenticated = !settings_.config.password.empty();
    fr.headers = FetchHeaders(req);
    std::string envelope = BuildEnvelopeHead(fr);
    uint64_t total = EnvelopeLength(envelope.size(), fr);

    std::unique_ptr<HmacSha256> mac;
    if (fr.authenticated) {
      mac = std::make_unique<HmacSha256>(settings_.config.password);
      if (!mac->Ok()) return SendPage(500, "Internal Server Error", "Internal error", "HMAC unavailable", true);
      mac->Update(envelope.data(), envelope.size());
    }

    // The first send carries the envelope head and the body bytes at hand.
    uint64_t bodyLeft = fr.bodyLength;
    std::string first = std::move(envelope);
    bool fromSpool = framing.kind == BodyKind::kChunked && !spool.InMemory();
    if (framing.kind == BodyKind::kChunked && spool.InMemory()) {
      if (mac) mac->Update(spool.memory().data(), spool.memory().size());
      first += spool.memory();
      bodyLeft = 0;
    } else if (bodyLeft > 0 && !fromSpool) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(bodyLeft, end_ - start_));
      if (mac) mac->Update(buf_.get() + start_, take);
      first.append(buf_.get() + start_, take);
      start_ += take;
      bodyLeft -= take;
    }
    bool macSent = false;
    if (mac && bodyLeft == 0) {
      first += mac->FinalHex();
      macSent = true;
    }

    UpResult ur = upstream_->Begin(first, total);
    if (ur != UpResult::kOk) {
      upstream_->Finish(false);
      return SendPage(502, "Bad Gateway", "Fetch server unreachable", upstream_->Error(),
                      wantsClose || bodyLeft > 0);
    }
    // Its own buffer: the browser's buffer may hold the next request already.
    std::unique_ptr<char[]> spoolBuf(fromSpool ? new char[kClientBuffer] : nullptr);
    if (fromSpool && !spool.Rewind()) bodyLeft = ~0ull;  // fails below
    while (fromSpool && bodyLeft > 0) {
      size_t got = spool.Read(spoolBuf.get(), static_cast<size_t>(std::min<uint64_t>(bodyLeft, kClientBuffer)));
      if (got == 0) {
        upstream_->Finish(false);
        return SendPage(500, "Internal Server Error", "Internal error", "the gathered request body cannot be read",
                        true);
      }
      if (mac) mac->Update(spoolBuf.get(), got);
      ur = upstream_->Write(spoolBuf.get(), got);
      bodyLeft -= got;
      if (ur != UpResult::kOk) {
        upstream_->Finish(false);
        return SendPage(502, "Bad Gateway", "Fetch server connection lost", upstream_->Error(), true);
      }
    }
    while (bodyLeft > 0) {
      if (start_ == end_) {
        start_ = end_ = 0;
        size_t got = 0;
        size_t cap = static_cast<size_t>(std::min<uint64_t>(bodyLeft, kClientBuffer));
        if (client_->Recv(buf_.get(), cap, got) != IoResult::kOk) {
          upstream_->Finish(false);
          return Next::kClose;
        }
        end_ = got;
      }
      size_t take = static_cast<size_t>(std::min<uint64_t>(bodyLeft, end_ - start_));
      if (mac) mac->Update(buf_.get() + start_, take);
      ur = upstream_->Write(buf_.get() + start_, take);
      start_ += take;
      bodyLeft -= take;
      if (ur != UpResult::kOk) {
        upstream_->Finish(false);
        return SendPage(502, "Bad Gateway", "Fetch server connection lost", upstream_->Error(), true);
      }
    }
    if (mac && !macSent) {
      std::string hex = mac->FinalHex();
      if (upstream_->Write(hex.data(), hex.size()) != UpResult::kOk) {
        upstream_->Finish(false);
        return SendPage(502, "Bad Gateway", "Fetch server connection lost", upstream_->Error(), true);
      }
    }

    OuterHead outer;
    ur = upstream_->ReceiveHead(outer);
    if (ur == UpResult::kTimeout) {
      upstream_->Finish(false);
      return SendPage(504, "Gateway Timeout", "Fetch server timed out", upstream_->Error(), wantsClose);
    }
    if (ur != UpResult::kOk) {
      upstream_->Finish(false);
      return SendPage(502, "Bad Gateway", "Fetch server failed", upstream_->Error(), wantsClose);
    }
    bool isEnvelope = outer.status == 200 &&
                      outer.contentType.compare(0, kEnvelopeContentType.size(), kEnvelopeContentType) == 0;
    if (!isEnvelope) return RelayServerRefusal(outer, wantsClose);
    return RelayEnvelope(req, wantsClose);
  }

  // The fetch server said no (wrong password, replay, forbidden target) or
  // could not fetch: its short text explains why.
  Next RelayServerRefusal(const OuterHead& outer, bool wantsClose) {
    std::string text;
    for (int i = 0; i < 64 && text.size() < 2048; ++i) {
      const char* p = nullptr;
      size_t n = 0;
      if (upstream_->Read(p, n) != UpResult::kOk || n == 0) break;
      text.append(p, std::min<size_t>(n, 2048 - text.size()));
    }
    upstream_->Finish(false);
    std::string reason(TrimOws(text));
    for (char& c : reason)
      if (c == '\r' || c == '\n') c = ' ';
    if (EqualsNoCase(outer.fetchMarker, "refused")) {
      return SendPage(403, "Forbidden", "Fetch server refused the request", reason, wantsClose);
    }
    if (EqualsNoCase(outer.fetchMarker, "error")) {
      return SendPage(502, "Bad Gateway", "Fetch server could not fetch the page", reason, wantsClose);
    }
    return SendPage(502, "Bad Gateway", "Fetch server gave no fetch response",
                    "HTTP status " + std::to_string(outer.status) + " from " + settings_.config.fetchServer +
                        " (is this a Corvalen fetch server?)",
                    wantsClose);
  }

  Next RelayEnvelope(const RequestHead& req, bool wantsClose) {
    ClientWriter writer(*client_, req, wantsClose);
    EnvelopeDecoder decoder;
    std::string failure;
    bool timedOut = false;
    for (;;) {
      const char* p = nullptr;
      size_t n = 0;
      UpResult ur = upstream_->Read(p, n);
      if (ur != UpResult::kOk) {
        failure = upstream_->Error();
        timedOut = ur == UpResult::kTimeout;
        break;
      }
      if (n == 0) {
        if (!decoder.Done()) failure = "the fetch server's answer ended early";
        break;
      }
      if (decoder.Done()) {
        failure = "the fetch server sent data after the end of the answer";
        break;
      }
      if (!decoder.Feed(p, n, writer)) {
        failure = writer.error().empty() ? decoder.Error() : writer.error();
        break;
      }
      bool last = decoder.Done() && decoder.EndOk();
      if (decoder.Done() && !decoder.EndOk()) {
        failure = "the target's answer broke off: " + decoder.EndError();
        break;
      }
      if (decoder.HeadSeen() && !writer.Flush(last)) {
        upstream_->Finish(false);
        return Next::kClose;
      }
      if (last) break;  // the rest of the outer answer is only framing
    }
    if (!failure.empty()) {
      upstream_->Finish(false);
      if (!decoder.HeadSeen() || !writer.HeadSent()) {
        if (decoder.Done() && !decoder.EndOk())
          return SendPage(502, "Bad Gateway", "Fetch server could not fetch the page", decoder.EndError(), true);
        return SendPage(timedOut ? 504 : 502, timedOut ? "Gateway Timeout" : "Bad Gateway",
                        timedOut ? "Fetch server timed out" : "Fetch server failed", failure, true);
      }
      return Next::kClose;  // a response already under way can only be cut off
    }
    upstream_->Finish(true);
    const ClientResponsePlan& plan = writer.plan();
    if (plan.framing == BodyKind::kLength && writer.sent() != plan.length) return Next::kClose;
    if (plan.close) return Next::kClose;
    return Next::kContinue;
  }

  // CONNECT: 200, then TLS towards the browser with a certificate for the
  // host from the local CA; the requests inside are served like plain ones,
  // with https:// URLs.
  Next OpenTunnel(const RequestHead& req) {
    if (!tunnelHost_.empty()) return SendPage(400, "Bad Request", "Bad Request", "CONNECT inside a tunnel", true);
    std::string host, error;
    uint16_t port = 0;
    if (!ParseConnectTarget(req.target, host, port))
      return SendPage(400, "Bad Request", "Bad Request", "CONNECT needs host:port, not \"" + req.target + "\"", true);
    const ProxyTls* tls = settings_.tls;
    if (!tls || !tls->sites) {
      return SendPage(502, "Bad Gateway", "HTTPS unavailable",
                      "the proxy has no local certificate authority: " + (tls ? tls->problem : std::string("none")),
                      true);
    }
    std::shared_ptr<const SiteCert> cert = tls->sites->Get(host, error);
    if (!cert) return SendPage(400, "Bad Request", "Bad Request", error, true);
    static const char kEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (!client_->Send(kEstablished, sizeof kEstablished - 1)) return Next::kClose;
    // Whatever the browser sent behind the CONNECT head is the start of TLS.
    auto stream = std::make_unique<TlsClientStream>(std::move(client_), std::string(buf_.get() + start_, end_ - start_));
    start_ = end_ = 0;
    TlsAccept accepted = stream->Accept(cert);
    if (accepted != TlsAccept::kOk) {
      client_ = stream->ReleasePlain();
      if (accepted == TlsAccept::kNotTls) {
        SendPage(400, "Bad Request", "Only HTTPS can pass through CONNECT",
                 "This proxy passes every request through a fetch server, so after CONNECT it takes only TLS "
                 "(https://). Other protocols, such as plain WebSocket (ws://), cannot pass through it.",
                 true);
      }
      return Next::kClose;  // otherwise the browser refused the certificate, or left
    }
    client_ = std::move(stream);
    tunnelHost_ = host;
    tunnelPort_ = port;
    return Next::kContinue;
  }

  // The local CA's certificate and the page on trusting it.
  Next ServeLocalPage(LocalPage page, const RequestHead& req, bool close) {
    bool head = EqualsNoCase(req.method, "HEAD");
    if (!head && !EqualsNoCase(req.method, "GET"))
      return SendPage(405, "Method Not Allowed", "Method Not Allowed", "only GET and HEAD", true);
    const ProxyTls* tls = settings_.tls;
    if (!tls || !tls->ca) {
      return SendPage(503, "Service Unavailable", "No local certificate authority",
                      tls ? tls->problem : std::string("none"), close);
    }
    std::string listen = settings_.config.listenIp + ":" + std::to_string(settings_.config.listenPort);
    std::string response = page == LocalPage::kCaCert
                               ? CaCertResponse(tls->ca->CertPem(), head, close)
                               : CaHelpResponse(listen, tls->ca->Fingerprint(), tls->caFolder, head, close);
    if (!client_->Send(response.data(), response.size())) return Next::kClose;
    return close ? Next::kClose : Next::kContinue;
  }

  std::unique_ptr<ClientStream> client_;
  std::string tunnelHost_;  // set once CONNECT has brought up TLS
  uint16_t tunnelPort_ = 0;
  const SessionSettings& settings_;
  std::unique_ptr<Upstream> upstream_;
  std::unique_ptr<char[]> buf_;
  size_t start_ = 0, end_ = 0;
};

}  // namespace

void ServeClient(SOCKET client, const SessionSettings& settings) {
  Session session(std::make_unique<SocketStream>(client, settings.clientTimeoutMs), settings);
  session.Run();
}

}  // namespace tunnel
