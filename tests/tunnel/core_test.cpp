// The local proxy's portable core: request parsing and its refusals, body
// framing, chunked decoding, URLs, the fetch envelope and response relaying.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package/proxy/config.h"
#include "package/proxy/envelope.h"
#include "package/proxy/http_parse.h"
#include "package/proxy/relay.h"

using namespace tunnel;

namespace {

ParseStatus ParseReq(const std::string& text, RequestHead& out, size_t& consumed, std::string& error,
                     HeadLimits limits = HeadLimits()) {
  return ParseRequestHead(text, limits, out, consumed, error);
}

}  // namespace

TEST(RequestHead, ParsesAbsoluteFormWithFieldsAndLeavesTheBody) {
  std::string text =
      "POST http://example.com:8080/a/b?x=1 HTTP/1.1\r\nHost: example.com:8080\r\n"
      "Content-Length: 3\r\nX-Empty:\r\nCookie:  a=b; c=d \t\r\n\r\nabc";
  RequestHead h;
  size_t consumed = 0;
  std::string error;
  ASSERT_EQ(ParseReq(text, h, consumed, error), ParseStatus::kDone) << error;
  EXPECT_EQ(h.method, "POST");
  EXPECT_EQ(h.target, "http://example.com:8080/a/b?x=1");
  EXPECT_EQ(h.version, 11);
  ASSERT_EQ(h.headers.size(), 4u);
  EXPECT_EQ(h.headers[2].name, "X-Empty");
  EXPECT_EQ(h.headers[2].value, "");
  EXPECT_EQ(h.headers[3].value, "a=b; c=d");
  EXPECT_EQ(text.substr(consumed), "abc");

  // Every prefix of the head is incomplete, never bad or done.
  for (size_t cut = 0; cut < consumed; ++cut) {
    RequestHead partial;
    size_t c2 = 0;
    EXPECT_EQ(ParseReq(text.substr(0, cut), partial, c2, error), ParseStatus::kIncomplete) << cut;
  }
}

TEST(RequestHead, RefusesWhatCouldBeReadTwoWays) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"bare LF line end", "GET http://a/ HTTP/1.1\nHost: a\r\n\r\n"},
      {"bare LF in fields", "GET http://a/ HTTP/1.1\r\nHost: a\nX: y\r\n\r\n"},
      {"bare CR in value", "GET http://a/ HTTP/1.1\r\nX: a\rb\r\n\r\n"},
      {"folded field", "GET http://a/ HTTP/1.1\r\nX: a\r\n b\r\n\r\n"},
      {"space before colon", "GET http://a/ HTTP/1.1\r\nContent-Length : 5\r\n\r\n"},
      {"field without colon", "GET http://a/ HTTP/1.1\r\nnonsense\r\n\r\n"},
      {"control character in value", std::string("GET http://a/ HTTP/1.1\r\nX: a\x01z\r\n\r\n")},
      {"NUL in value", std::string("GET http://a/ HTTP/1.1\r\nX: a\0z\r\n\r\n", 35)},
      {"unknown version", "GET http://a/ HTTP/2.0\r\n\r\n"},
      {"no version", "GET http://a/\r\n\r\n"},
      {"double space", "GET  http://a/ HTTP/1.1\r\n\r\n"},
      {"space in target", "GET http://a/b c HTTP/1.1\r\n\r\n"},
      {"method not a token", "GE(T http://a/ HTTP/1.1\r\n\r\n"},
      {"empty start line", "\r\nGET http://a/ HTTP/1.1\r\n\r\n"},
  };
  for (const Case& c : cases) {
    RequestHead h;
    size_t consumed = 0;
    std::string error;
    EXPECT_EQ(ParseReq(c.text, h, consumed, error), ParseStatus::kBad) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(RequestHead, EnforcesSizeLimitsBeforeTheHeadEnds) {
  HeadLimits limits;
  limits.maxStartLine = 64;
  limits.maxHead = 256;
  limits.maxHeaderCount = 4;
  RequestHead h;
  size_t consumed = 0;
  std::string error;
  // An endless request line is refused as soon as it passes the limit.
  EXPECT_EQ(ParseReq("GET http://a/" + std::string(80, 'x'), h, consumed, error, limits), ParseStatus::kBad);
  std::string many = "GET http://a/ HTTP/1.1\r\n";
  for (int i = 0; i < 6; ++i) many += "X" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(ParseReq(many + "\r\n", h, consumed, error, limits), ParseStatus::kBad);
  std::string big = "GET http://a/ HTTP/1.1\r\nX: " + std::string(300, 'v');
  EXPECT_EQ(ParseReq(big, h, consumed, error, limits), ParseStatus::kBad);
  std::string fits = "GET http://a/ HTTP/1.1\r\nX: " + std::string(100, 'v') + "\r\n\r\n";
  EXPECT_EQ(ParseReq(fits, h, consumed, error, limits), ParseStatus::kDone);
}

TEST(RequestBody, FramingIsUnambiguousOrRefused) {
  struct Case {
    const char* name;
    std::string fields;
    int version;
    bool ok;
    BodyKind kind;
    uint64_t length;
  };
  const std::vector<Case> cases = {
      {"no body", "", 11, true, BodyKind::kNone, 0},
      {"length", "Content-Length: 42\r\n", 11, true, BodyKind::kLength, 42},
      {"zero length", "Content-Length: 0\r\n", 11, true, BodyKind::kNone, 0},
      {"same length twice", "Content-Length: 7\r\nContent-Length: 7\r\n", 11, true, BodyKind::kLength, 7},
      {"same length listed", "Content-Length: 7, 7\r\n", 11, true, BodyKind::kLength, 7},
      {"chunked", "Transfer-Encoding: chunked\r\n", 11, true, BodyKind::kChunked, 0},
      {"chunked any case", "Transfer-Encoding: Chunked\r\n", 11, true, BodyKind::kChunked, 0},
      {"differing lengths", "Content-Length: 7\r\nContent-Length: 8\r\n", 11, false, BodyKind::kNone, 0},
      {"differing listed", "Content-Length: 7, 8\r\n", 11, false, BodyKind::kNone, 0},
      {"length and chunked", "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", 11, false, BodyKind::kNone, 0},
      {"gzip coding", "Transfer-Encoding: gzip\r\n", 11, false, BodyKind::kNone, 0},
      {"gzip then chunked", "Transfer-Encoding: gzip, chunked\r\n", 11, false, BodyKind::kNone, 0},
      {"chunked twice", "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", 11, false,
       BodyKind::kNone, 0},
      {"empty coding", "Transfer-Encoding: \r\n", 11, false, BodyKind::kNone, 0},
      {"signed length", "Content-Length: +5\r\n", 11, false, BodyKind::kNone, 0},
      {"hex length", "Content-Length: 0x10\r\n", 11, false, BodyKind::kNone, 0},
      {"empty length", "Content-Length: \r\n", 11, false, BodyKind::kNone, 0},
      {"huge length", "Content-Length: 99999999999999999999\r\n", 11, false, BodyKind::kNone, 0},
      {"chunked in HTTP/1.0", "Transfer-Encoding: chunked\r\n", 10, false, BodyKind::kNone, 0},
  };
  for (const Case& c : cases) {
    std::string text = std::string("POST http://a/ ") + (c.version == 10 ? "HTTP/1.0" : "HTTP/1.1") + "\r\n" +
                       c.fields + "\r\n";
    RequestHead h;
    size_t consumed = 0;
    std::string error;
    ASSERT_EQ(ParseReq(text, h, consumed, error), ParseStatus::kDone) << c.name << ": " << error;
    BodyFraming f;
    EXPECT_EQ(RequestBodyFraming(h, f, error), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(f.kind, c.kind) << c.name;
      EXPECT_EQ(f.length, c.length) << c.name;
    } else {
      EXPECT_FALSE(error.empty()) << c.name;
    }
  }
}

TEST(Chunked, DecodesAtEverySplitAndStopsAtTheMessageEnd) {
  const std::string body = "4;ext=1\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\n";
  const std::string next = "GET http://next/ HTTP/1.1\r\n";
  const std::string all = body + next;
  for (size_t split = 0; split <= all.size(); ++split) {
    ChunkedDecoder d;
    std::string out;
    auto sink = [&](const char* p, size_t n) { out.append(p, n); };
    size_t used = d.Feed(all.data(), split, sink);
    used += d.Feed(all.data() + used, all.size() - used, sink);
    ASSERT_TRUE(d.Done()) << split;
    EXPECT_EQ(out, "Wikipedia in\r\n\r\nchunks.") << split;
    EXPECT_EQ(all.substr(used), next) << split;
  }
}

TEST(Chunked, RefusesMalformedFraming) {
  const std::vector<std::string> bad = {
      "4\r\nWikiX\r\n0\r\n\r\n",     // data longer than announced
      "4\nWiki\r\n0\r\n\r\n",        // LF-only size line
      "g\r\n",                        // not hex
      "\r\n",                         // no size
      "-1\r\n",                       // sign
      "1234567890abcdef0\r\n",        // too many digits
      "0\r\nBad\nTrailer\r\n\r\n",    // LF-only trailer
  };
  for (const std::string& b : bad) {
    ChunkedDecoder d;
    d.Feed(b.data(), b.size(), [](const char*, size_t) {});
    EXPECT_TRUE(d.Bad()) << b;
  }
}

TEST(Headers, HopByHopFieldsAndConnectionTokensAreDropped) {
  HeaderList in = {{"Connection", "keep-alive, X-Secret"}, {"Keep-Alive", "timeout=5"},
                   {"Proxy-Connection", "keep-alive"},     {"Proxy-Authorization", "Basic x"},
                   {"TE", "trailers"},                     {"Upgrade", "websocket"},
                   {"x-secret", "1"},                      {"Set-Cookie", "a=1"},
                   {"Set-Cookie", "b=2"},                  {"Cache-Control", "no-cache"}};
  HeaderList out = EndToEndHeaders(in);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].value, "a=1");
  EXPECT_EQ(out[1].value, "b=2");
  EXPECT_EQ(out[2].name, "Cache-Control");

  RequestHead req;
  req.headers = {{"Host", "a"}, {"Content-Length", "3"}, {"Expect", "100-continue"}, {"Accept", "*/*"},
                 {"Transfer-Encoding", "chunked"}};
  HeaderList fetch = FetchHeaders(req);
  ASSERT_EQ(fetch.size(), 1u);
  EXPECT_EQ(fetch[0].name, "Accept");
}

TEST(Urls, AbsoluteUrlsAndListenAddresses) {
  struct Case {
    const char* url;
    bool ok;
    const char* scheme;
    const char* host;
    int port;
    const char* path;
  };
  const std::vector<Case> cases = {
      {"http://example.com/a?b=c", true, "http", "example.com", 80, "/a?b=c"},
      {"HTTP://Example.com:8080", true, "http", "Example.com", 8080, "/"},
      {"https://h.example/fetch/index.php", true, "https", "h.example", 443, "/fetch/index.php"},
      {"http://[::1]:81/x", true, "http", "[::1]", 81, "/x"},
      {"http://h?q", true, "http", "h", 80, "/?q"},
      {"ftp://h/", false, "", "", 0, ""},
      {"http://user@h/", false, "", "", 0, ""},
      {"http:///x", false, "", "", 0, ""},
      {"http://h:0/", false, "", "", 0, ""},
      {"http://h:65536/", false, "", "", 0, ""},
      {"http://h:/", false, "", "", 0, ""},
      {"http://h/#frag", false, "", "", 0, ""},
      {"/relative", false, "", "", 0, ""},
      {"http://[zz]/", false, "", "", 0, ""},
  };
  for (const Case& c : cases) {
    UrlParts u;
    ASSERT_EQ(ParseAbsoluteUrl(c.url, u), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(u.scheme, c.scheme) << c.url;
    EXPECT_EQ(u.host, c.host) << c.url;
    EXPECT_EQ(u.port, c.port) << c.url;
    EXPECT_EQ(u.path, c.path) << c.url;
  }
  const std::map<std::string, bool> listens = {{"127.0.0.1:8088", true}, {" 10.0.0.2:1 ", true},
                                               {"127.0.0.1", false},     {"localhost:8088", false},
                                               {"127.0.0.256:80", false}, {"127.0.0.1:0", false},
                                               {"1.2.3:80", false},      {"127.0.0.1:99999", false}};
  for (const auto& [text, ok] : listens) {
    std::string ip;
    uint16_t port = 0;
    EXPECT_EQ(ParseListenAddress(text, ip, port), ok) << text;
  }
}

TEST(Config, DefaultsAndValuesOfSectionPhp) {
  std::map<std::string, std::string> ini;
  auto read = [&](const char* key, const char* def) {
    auto it = ini.find(key);
    return it == ini.end() ? std::string(def) : it->second;
  };
  ProxyConfig d = ParseProxyConfig(read);
  EXPECT_TRUE(d.enable);
  EXPECT_EQ(d.listenIp, "127.0.0.1");
  EXPECT_EQ(d.listenPort, 8088);
  EXPECT_FALSE(d.fetchServerValid);
  EXPECT_EQ(d.password, "");
  EXPECT_EQ(d.timeoutMs, 30000u);

  ini = {{"enable", "0"}, {"listen", "127.0.0.1:9001"}, {"fetchserver", "example.com/f/index.php"},
         {"password", "s3cret"}, {"timeout", "5"}};
  ProxyConfig c = ParseProxyConfig(read);
  EXPECT_FALSE(c.enable);
  EXPECT_EQ(c.listenPort, 9001);
  ASSERT_TRUE(c.fetchServerValid);
  EXPECT_EQ(c.fetchUrl.scheme, "http");
  EXPECT_EQ(c.fetchUrl.host, "example.com");
  EXPECT_EQ(c.fetchUrl.path, "/f/index.php");
  EXPECT_EQ(c.password, "s3cret");
  EXPECT_EQ(c.timeoutMs, 5000u);

  ini = {{"listen", "0.0.0.0"}, {"timeout", "never"}, {"fetchserver", "https://h:8443/x.php"}};
  ProxyConfig b = ParseProxyConfig(read);
  EXPECT_EQ(b.listenIp, "127.0.0.1");
  EXPECT_EQ(b.listenPort, 8088);
  EXPECT_EQ(b.timeoutMs, 30000u);
  EXPECT_TRUE(b.fetchServerValid);
  EXPECT_EQ(b.fetchUrl.port, 8443);
  EXPECT_NE(b.problem.find("listen"), std::string::npos);
}

TEST(Envelope, RequestHeadCarriesMethodUrlMetaAndFields) {
  FetchRequest r;
  r.method = "PUT";
  r.url = "http://t.example/x?y";
  r.time = 1700000000;
  r.nonce = "00112233445566778899aabbccddeeff";
  r.bodyLength = 12;
  r.authenticated = true;
  r.headers = {{"Content-Type", "text/plain"}, {"Cookie", "a=b"}};
  std::string head = BuildEnvelopeHead(r);
  EXPECT_EQ(head,
            "CFP/1\r\nmethod: PUT\r\nurl: http://t.example/x?y\r\ntime: 1700000000\r\n"
            "nonce: 00112233445566778899aabbccddeeff\r\nlength: 12\r\nauth: hmac-sha256\r\n"
            "h: Content-Type: text/plain\r\nh: Cookie: a=b\r\n\r\n");
  EXPECT_EQ(EnvelopeLength(head.size(), r), head.size() + 12 + 64);
  r.authenticated = false;
  EXPECT_EQ(EnvelopeLength(head.size(), r), head.size() + 12);
  EXPECT_EQ(HexLower(std::string("\x00\x7f\xff\x10", 4)), "007fff10");
}

namespace {

struct Recorder : EnvelopeSink {
  int heads = 0;
  ResponseHead head;
  std::string body;
  bool OnHead(const ResponseHead& h) override {
    ++heads;
    head = h;
    return true;
  }
  bool OnData(const char* p, size_t n) override {
    body.append(p, n);
    return true;
  }
};

}  // namespace

TEST(Envelope, ResponseDecodesAtEverySplit) {
  const std::string wire =
      "CFP/1 302 Found\r\nLocation: /elsewhere\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n"
      "5\r\nhello" "1\r\n," "6\r\n world" "0\r\nok\r\n";
  for (size_t split = 0; split <= wire.size(); ++split) {
    EnvelopeDecoder d;
    Recorder r;
    ASSERT_TRUE(d.Feed(wire.data(), split, r)) << split << d.Error();
    ASSERT_TRUE(d.Feed(wire.data() + split, wire.size() - split, r)) << split << d.Error();
    ASSERT_TRUE(d.Done());
    EXPECT_TRUE(d.EndOk());
    EXPECT_EQ(r.heads, 1);
    EXPECT_EQ(r.head.status, 302);
    EXPECT_EQ(r.head.reason, "Found");
    ASSERT_EQ(r.head.headers.size(), 3u);
    EXPECT_EQ(r.head.headers[2].value, "b=2");
    EXPECT_EQ(r.body, "hello, world");
  }
}

TEST(Envelope, ResponseFaultsAreReported) {
  struct Case {
    const char* name;
    std::string wire;
    bool feedOk;
    bool done;
    bool endOk;
  };
  const std::vector<Case> cases = {
      {"html instead of envelope", "<html><body>hosting error</body></html>", false, false, false},
      {"wrong version", "CFP/9 200 OK\r\n\r\n0\r\nok\r\n", false, false, false},
      {"bad status", "CFP/1 2x0 OK\r\n\r\n0\r\nok\r\n", false, false, false},
      {"bad frame length", "CFP/1 200 OK\r\n\r\nzz\r\n", false, false, false},
      {"bad end mark", "CFP/1 200 OK\r\n\r\n0\r\nmaybe\r\n", false, false, false},
      {"data after end", "CFP/1 200 OK\r\n\r\n0\r\nok\r\nX", false, true, true},
      {"target broke off", "CFP/1 200 OK\r\n\r\n3\r\nabc0\r\nerror connection reset\r\n", true, true, false},
      {"unfinished", "CFP/1 200 OK\r\n\r\n3\r\nab", true, false, false},
  };
  for (const Case& c : cases) {
    EnvelopeDecoder d;
    Recorder r;
    EXPECT_EQ(d.Feed(c.wire.data(), c.wire.size(), r), c.feedOk) << c.name;
    if (c.done) {
      EXPECT_TRUE(d.EndOk() == c.endOk) << c.name;
    } else {
      EXPECT_FALSE(d.Done()) << c.name;
    }
  }
  EnvelopeDecoder broke;
  Recorder r;
  std::string wire = "CFP/1 200 OK\r\n\r\n3\r\nabc0\r\nerror connection reset\r\n";
  broke.Feed(wire.data(), wire.size(), r);
  EXPECT_EQ(broke.EndError(), "connection reset");

  EnvelopeDecoder huge;
  std::string big = "CFP/1 200 OK\r\nX: " + std::string(kMaxEnvelopeHead, 'a');
  EXPECT_FALSE(huge.Feed(big.data(), big.size(), r));
}

TEST(Relay, ResponseFramingTowardsTheBrowser) {
  struct Case {
    const char* name;
    int status;
    HeaderList fields;
    const char* method;
    int clientVersion;
    BodyKind framing;
    bool close;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {"length kept", 200, {{"Content-Length", "10"}, {"Set-Cookie", "a=1"}}, "GET", 11, BodyKind::kLength, false,
       {"Content-Length: 10\r\n", "Set-Cookie: a=1\r\n"}, {"Transfer-Encoding"}},
      {"chunked target to 1.1", 200, {{"Transfer-Encoding", "chunked"}}, "GET", 11, BodyKind::kChunked, false,
       {"Transfer-Encoding: chunked\r\n"}, {"Content-Length"}},
      {"no length to 1.0", 200, {}, "GET", 10, BodyKind::kUntilClose, true, {"Connection: close\r\n"},
       {"Transfer-Encoding"}},
      {"HEAD keeps length", 200, {{"Content-Length", "1234"}}, "HEAD", 11, BodyKind::kNone, false,
       {"Content-Length: 1234\r\n"}, {"Transfer-Encoding"}},
      {"304 without body", 304, {{"ETag", "\"x\""}}, "GET", 11, BodyKind::kNone, false, {"ETag: \"x\"\r\n"},
       {"Transfer-Encoding"}},
      {"hop-by-hop dropped", 404, {{"Connection", "X-Hop"}, {"X-Hop", "1"}, {"Content-Length", "0"},
       {"Keep-Alive", "timeout=1"}}, "GET", 11, BodyKind::kLength, false, {"HTTP/1.1 404 "},
       {"X-Hop", "Keep-Alive"}},
      {"both length and chunked", 200, {{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, "GET", 11,
       BodyKind::kChunked, false, {"Transfer-Encoding: chunked\r\n"}, {"Content-Length"}},
  };
  for (const Case& c : cases) {
    ResponseHead h;
    h.status = c.status;
    h.reason = "Reason";
    h.headers = c.fields;
    ClientResponsePlan plan;
    ASSERT_TRUE(PlanClientResponse(h, c.method, c.clientVersion, false, plan)) << c.name;
    EXPECT_EQ(plan.framing, c.framing) << c.name;
    EXPECT_EQ(plan.close, c.close) << c.name;
    EXPECT_EQ(plan.head.substr(0, 13), "HTTP/1.1 " + std::to_string(c.status) + " ") << c.name;
    EXPECT_EQ(plan.head.substr(plan.head.size() - 4), "\r\n\r\n") << c.name;
    for (const std::string& p : c.present) EXPECT_NE(plan.head.find(p), std::string::npos) << c.name << ": " << p;
    for (const std::string& a : c.absent) EXPECT_EQ(plan.head.find(a), std::string::npos) << c.name << ": " << a;
  }
  ResponseHead informational;
  informational.status = 101;
  ClientResponsePlan plan;
  EXPECT_FALSE(PlanClientResponse(informational, "GET", 11, false, plan));
}

TEST(Relay, ProxyPagesAreCompleteAndEscaped) {
  std::string page = ProxyPage(502, "Bad Gateway", "Fetch server failed", "<script>&\"", true);
  size_t split = page.find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos);
  std::string head = page.substr(0, split + 4);
  std::string body = page.substr(split + 4);
  EXPECT_EQ(head.substr(0, 25), "HTTP/1.1 502 Bad Gateway\r");
  EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos);
  EXPECT_EQ(body.find("<script>"), std::string::npos);
  EXPECT_NE(body.find("&lt;script&gt;&amp;&quot;"), std::string::npos);
}
