// WebRequest against a recording fake of WinINet: the exact arguments of each
// call, the header text sent, the body loop and the handle order on every path.
#include <gtest/gtest.h>

#include "app/http/web_request.h"
#include "app/http/wininet_calls.h"
#include "tests/http/fake_wininet.h"

namespace {

const Text kAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
using Calls = std::vector<std::string>;

// The parameters of one call, defaults as the routine's own.
struct Call {
  Call(Text u, int m = kGet, Text p = {}) : url(std::move(u)), method(m), postText(std::move(p)) {}
  Text url;
  int method = kGet;
  Text postText;
  Text* cookies = nullptr;
  Text* returnedCookies = nullptr;
  Text extraHeaders;
  Text* responseHeaders = nullptr;
  bool noRedirect = false;
  Bytes* postBytes = nullptr;
  Text proxy;
  bool mergeCookies = true;
  bool completeHeaders = true;
  bool normalizeHeaderNames = true;
  bool socksProxy = false;
};

Bytes Send(FakeWinInet& fake, const Call& c) {
  return WebRequestThrough(fake, c.url, c.method, c.postText, c.cookies, c.returnedCookies, c.extraHeaders,
                           c.responseHeaders, c.noRedirect, c.postBytes, c.proxy, c.mergeCookies, c.completeHeaders,
                           c.normalizeHeaderNames, c.socksProxy);
}

std::vector<HINTERNET> InnermostFirst() {
  return {FakeWinInet::RequestH(), FakeWinInet::ConnectionH(), FakeWinInet::InternetH()};
}

TEST(WebRequestFake, GetWithAllOptionsOmitted) {
  FakeWinInet fake;
  fake.chunks = {"hello"};
  fake.rawHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: s=1; path=/\r\n\r\n";
  const Text url = "http://example.com:8080/a/b?c";
  EXPECT_EQ(Send(fake, {url}), "hello");

  EXPECT_EQ(fake.calls, Calls({"Open", "Connect", "OpenRequest", "SetOption", "SendRequest", "ReadFile", "ReadFile",
                               "QueryInfo", "CloseHandle", "CloseHandle", "CloseHandle"}));
  ASSERT_EQ(fake.opens.size(), 1u);
  EXPECT_EQ(fake.opens[0].agent, kAgent);
  EXPECT_EQ(fake.opens[0].access, 1u);
  EXPECT_FALSE(fake.opens[0].proxy);
  EXPECT_FALSE(fake.opens[0].bypass);
  EXPECT_EQ(fake.opens[0].flags, 0u);

  const auto& conn = fake.connects.at(0);
  EXPECT_EQ(conn.internet, FakeWinInet::InternetH());
  EXPECT_EQ(conn.host, "example.com");
  EXPECT_EQ(conn.port, 8080);
  EXPECT_TRUE(conn.userNull);
  EXPECT_TRUE(conn.passwordNull);
  EXPECT_EQ(conn.service, 3u);
  EXPECT_EQ(conn.flags, 0u);
  EXPECT_EQ(conn.context, 0u);

  const auto& req = fake.requests.at(0);
  EXPECT_EQ(req.connection, FakeWinInet::ConnectionH());
  EXPECT_EQ(req.verb, "GET");
  EXPECT_EQ(req.path, "/a/b?c");
  EXPECT_EQ(req.version, "HTTP/1.1");
  EXPECT_TRUE(req.referrerNull);
  EXPECT_TRUE(req.acceptTypesNull);
  EXPECT_EQ(req.flags, 0x80004010u);
  EXPECT_EQ(req.context, 0u);

  const auto& opt = fake.options.at(0);
  EXPECT_EQ(opt.handle, FakeWinInet::RequestH());
  EXPECT_EQ(opt.option, 31u);
  EXPECT_EQ(opt.value, 0x1F380u);
  EXPECT_EQ(opt.length, 4u);

  const auto& send = fake.sends.at(0);
  EXPECT_EQ(send.request, FakeWinInet::RequestH());
  const Text headers = "Accept: */*\r\nReferer: " + url + "\r\nAccept-Language: zh-cn";
  EXPECT_EQ(send.headers, headers);
  EXPECT_EQ(send.headersLength, headers.size());
  EXPECT_TRUE(send.bodyNull);

  const auto& query = fake.queries.at(0);
  EXPECT_EQ(query.request, FakeWinInet::RequestH());
  EXPECT_EQ(query.level, 22u);
  EXPECT_EQ(query.lengthIn, 5000u);
  EXPECT_TRUE(query.indexNull);

  EXPECT_EQ(fake.readSizes, std::vector<DWORD>({1024, 1024}));
  EXPECT_EQ(fake.closed, InnermostFirst());
}

TEST(WebRequestFake, HttpsUrlInUpperCase) {
  FakeWinInet fake;
  Send(fake, {"HTTPS://Example.com/x"});
  EXPECT_EQ(fake.connects.at(0).host, "example.com");
  EXPECT_EQ(fake.connects.at(0).port, 443);
  EXPECT_EQ(fake.requests.at(0).path, "/x");
  EXPECT_EQ(fake.requests.at(0).flags, 0x80800010u);
  EXPECT_EQ(fake.options.at(0).value, 0x1F380u) << "any certificate is accepted";
}

TEST(WebRequestFake, FullPostExample) {
  FakeWinInet fake;
  fake.chunks = {"ok"};
  fake.rawHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: lang=zh; path=/\r\nSet-Cookie: sid=y; HttpOnly\r\n\r\n";
  Text cookies = "sid=x", returned = "stale", headersOut;
  Call c{"http://example.com/login", kPost, "a=1"};
  c.cookies = &cookies;
  c.returnedCookies = &returned;
  c.responseHeaders = &headersOut;
  c.extraHeaders = "user-agent: Tool/1.0";
  EXPECT_EQ(Send(fake, c), "ok");

  EXPECT_EQ(fake.opens.at(0).agent, "Tool/1.0");
  EXPECT_EQ(fake.requests.at(0).verb, "POST");
  EXPECT_EQ(fake.requests.at(0).flags, 0x80084010u);
  EXPECT_EQ(fake.sends.at(0).headers,
            "User-Agent: Tool/1.0\r\nAccept: */*\r\nReferer: http://example.com/login\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nCookie: sid=x");
  EXPECT_FALSE(fake.sends.at(0).bodyNull);
  EXPECT_EQ(fake.sends.at(0).body, "a=1");
  EXPECT_EQ(returned, "lang=zh; sid=y");
  EXPECT_EQ(cookies, "lang=zh; sid=y");
  EXPECT_EQ(headersOut, *fake.rawHeaders);
}

TEST(WebRequestFake, MethodTable) {
  struct Case {
    int method;
    const char* verb;
    bool bodyHandedOver;
    bool contentType;
  };
  const Case cases[] = {{0, "GET", false, false},  {1, "POST", true, true},     {2, "HEAD", true, false},
                        {3, "PUT", true, false},   {4, "OPTIONS", true, false}, {5, "DELETE", true, false},
                        {6, "TRACE", true, false}, {7, "CONNECT", true, false}, {8, "GET", false, false},
                        {9, "GET", false, false},  {-1, "GET", false, false},   {-2147483647 - 1, "GET", false, false}};
  for (const Case& k : cases) {
    FakeWinInet fake;
    Call c{"http://h.example/p", k.method, "x=1"};
    Send(fake, c);
    SCOPED_TRACE(k.method);
    EXPECT_EQ(fake.requests.at(0).verb, k.verb);
    const auto& send = fake.sends.at(0);
    EXPECT_EQ(send.bodyNull, !k.bodyHandedOver);
    EXPECT_EQ(send.body, k.bodyHandedOver ? "x=1" : "");
    EXPECT_EQ(send.headers.find("Content-Type: application/x-www-form-urlencoded") != std::string::npos, k.contentType);
  }
}

TEST(WebRequestFake, PostTextFillsTheCallersEmptyPostBytes) {
  FakeWinInet fake;
  Bytes postBytes;
  Call c{"http://h.example/p", kPost, "a=1&b=2"};
  c.postBytes = &postBytes;
  Send(fake, c);
  EXPECT_EQ(fake.sends.at(0).body, "a=1&b=2");
  EXPECT_EQ(fake.sends.at(0).body.size(), 7u);
  EXPECT_EQ(postBytes, "a=1&b=2");
  const std::string& h = fake.sends.at(0).headers;
  const std::string tail = "\r\nContent-Type: application/x-www-form-urlencoded";
  EXPECT_EQ(h.substr(h.size() - tail.size()), tail);
}

TEST(WebRequestFake, PostBytesWinOverPostTextAndMayHoldZeros) {
  FakeWinInet fake;
  Bytes postBytes("\x01\x00\x02", 3);
  Call c{"http://h.example/p", kPut, "ignored"};
  c.postBytes = &postBytes;
  Send(fake, c);
  EXPECT_EQ(fake.sends.at(0).body, Bytes("\x01\x00\x02", 3));
  EXPECT_EQ(postBytes, Bytes("\x01\x00\x02", 3));
}

TEST(WebRequestFake, GetLeavesPostBytesAloneAndEmptyBodyIsSentWithLengthZero) {
  FakeWinInet fake;
  Bytes postBytes;
  Call get{"http://h.example/p", kGet, "a=1"};
  get.postBytes = &postBytes;
  Send(fake, get);
  EXPECT_TRUE(fake.sends.at(0).bodyNull);
  EXPECT_EQ(postBytes, "");

  FakeWinInet fake2;
  Send(fake2, {"http://h.example/p", kDelete});
  EXPECT_FALSE(fake2.sends.at(0).bodyNull);
  EXPECT_EQ(fake2.sends.at(0).body, "");
}

TEST(WebRequestFake, ProxyTable) {
  struct Case {
    const char* url;
    const char* proxy;
    bool socks;
    DWORD access;
    const char* proxyText;  // null: passed as null
    const char* bypass;
  };
  const Case cases[] = {
      {"http://h.example/", "", false, 1, nullptr, nullptr},
      {"http://h.example/", "", true, 1, nullptr, nullptr},
      {"http://h.example/", "192.0.2.1:1080", true, 3, "SOCKS=192.0.2.1:1080", ""},
      {"https://h.example/", "192.0.2.1:1080", true, 3, "SOCKS=192.0.2.1:1080", ""},
      {"http://h.example/", "192.0.2.1:8080", false, 3, "http=192.0.2.1:8080", ""},
      {"https://h.example/", "192.0.2.1:8080", false, 3, "192.0.2.1:8080", ""},
  };
  for (const Case& k : cases) {
    FakeWinInet fake;
    Call c{k.url};
    c.proxy = k.proxy;
    c.socksProxy = k.socks;
    Send(fake, c);
    SCOPED_TRACE(std::string(k.url) + " " + k.proxy);
    EXPECT_EQ(fake.opens.at(0).access, k.access);
    EXPECT_EQ(fake.opens.at(0).proxy, k.proxyText ? std::optional<std::string>(k.proxyText) : std::nullopt);
    EXPECT_EQ(fake.opens.at(0).bypass, k.bypass ? std::optional<std::string>(k.bypass) : std::nullopt);
  }
}

TEST(WebRequestFake, FlagWord) {
  struct Case {
    const char* url;
    bool cookies;
    bool noRedirect;
    DWORD flags;
  };
  const Case cases[] = {{"http://h/", false, false, 0x80004010}, {"https://h/", false, false, 0x80800010},
                        {"http://h/", true, false, 0x80084010},  {"http://h/", false, true, 0x80204010},
                        {"https://h/", true, true, 0x80A80010},  {"httpsite.example/", false, false, 0x80004010}};
  for (const Case& k : cases) {
    FakeWinInet fake;
    Text cookies;
    Call c{k.url};
    if (k.cookies) c.cookies = &cookies;
    c.noRedirect = k.noRedirect;
    Send(fake, c);
    EXPECT_EQ(fake.requests.at(0).flags, k.flags) << k.url << " " << k.cookies << k.noRedirect;
  }
}

TEST(WebRequestFake, CookieParameterCases) {
  const Text setLines = "HTTP/1.1 200 OK\r\nSet-Cookie: n=1; path=/\r\n\r\n";
  {  // supplied but empty: no Cookie line, the platform's cookies off, the response's cookies in both
    FakeWinInet fake;
    fake.rawHeaders = setLines;
    Text cookies, returned;
    Call c{"http://h.example/"};
    c.cookies = &cookies;
    c.returnedCookies = &returned;
    Send(fake, c);
    EXPECT_EQ(fake.sends.at(0).headers.find("Cookie"), std::string::npos);
    EXPECT_TRUE(fake.requests.at(0).flags & 0x80000);
    EXPECT_EQ(cookies, "n=1");
    EXPECT_EQ(returned, "n=1");
  }
  {  // omitted: platform cookies on, only the response's cookies returned
    FakeWinInet fake;
    fake.rawHeaders = setLines;
    Text returned;
    Call c{"http://h.example/"};
    c.returnedCookies = &returned;
    Send(fake, c);
    EXPECT_FALSE(fake.requests.at(0).flags & 0x80000);
    EXPECT_EQ(returned, "n=1");
  }
  {  // merging off: the Cookie line is sent, the caller's text stays
    FakeWinInet fake;
    fake.rawHeaders = setLines;
    Text cookies = "a=1", returned;
    Call c{"http://h.example/"};
    c.cookies = &cookies;
    c.returnedCookies = &returned;
    c.mergeCookies = false;
    Send(fake, c);
    const std::string& h = fake.sends.at(0).headers;
    EXPECT_EQ(h.substr(h.size() - 13), "\r\nCookie: a=1");
    EXPECT_EQ(returned, "n=1");
    EXPECT_EQ(cookies, "a=1");
  }
}

TEST(WebRequestFake, HeaderSwitchesOff) {
  FakeWinInet fake;
  Call c{"http://h.example/"};
  c.extraHeaders = "x-one: 1\r\nno colon\r\nuser-agent: T/1";
  c.completeHeaders = false;
  c.normalizeHeaderNames = false;
  Send(fake, c);
  EXPECT_EQ(fake.sends.at(0).headers, "x-one: 1\r\nno colon\r\nuser-agent: T/1");
  EXPECT_EQ(fake.opens.at(0).agent, "1\r\nno colon\r\nuser-agent: T/1");

  FakeWinInet fake2;
  c.normalizeHeaderNames = true;
  Send(fake2, c);
  EXPECT_EQ(fake2.sends.at(0).headers, "X-One: 1\r\nUser-Agent: T/1");
  EXPECT_EQ(fake2.opens.at(0).agent, "T/1");
}

TEST(WebRequestFake, EarlyExitsCloseExactlyWhatWasOpened) {
  Text headers = "kept", returned = "kept", cookies = "c=1";
  Bytes postBytes;
  auto call = [&](FakeWinInet& fake) {
    Call c{"http://h.example/", kPost, "body"};
    c.cookies = &cookies;
    c.returnedCookies = &returned;
    c.responseHeaders = &headers;
    c.postBytes = &postBytes;
    return Send(fake, c);
  };
  struct Case {
    bool open, connect, request;
    Calls calls;
    std::vector<HINTERNET> closed;
  };
  const Case cases[] = {
      {true, false, false, {"Open"}, {}},
      {false, true, false, {"Open", "Connect", "CloseHandle"}, {FakeWinInet::InternetH()}},
      {false,
       false,
       true,
       {"Open", "Connect", "OpenRequest", "CloseHandle", "CloseHandle"},
       {FakeWinInet::ConnectionH(), FakeWinInet::InternetH()}},
  };
  for (const Case& k : cases) {
    FakeWinInet fake;
    fake.failOpen = k.open;
    fake.failConnect = k.connect;
    fake.failOpenRequest = k.request;
    EXPECT_EQ(call(fake), "");
    EXPECT_EQ(fake.calls, k.calls);
    EXPECT_EQ(fake.closed, k.closed);
    EXPECT_EQ(headers, "kept");
    EXPECT_EQ(returned, "kept");
    EXPECT_EQ(cookies, "c=1");
    EXPECT_EQ(postBytes, "");
  }
}

TEST(WebRequestFake, FailedSendGivesEmptyBodyAndBlankHeaders) {
  FakeWinInet fake;
  fake.sendResult = FALSE;
  fake.rawHeaders = "\r\n";  // what a header query might still give
  Text headers, returned = "x", cookies = "a=1;";
  Call c{"http://h.example/"};
  c.responseHeaders = &headers;
  c.returnedCookies = &returned;
  EXPECT_EQ(Send(fake, c), "");
  EXPECT_EQ(headers, Text(5000, ' '));
  EXPECT_EQ(returned, "");
  EXPECT_EQ(fake.calls, Calls({"Open", "Connect", "OpenRequest", "SetOption", "SendRequest", "CloseHandle",
                               "CloseHandle", "CloseHandle"}))
      << "nothing is read or queried from a request that was not sent";
  EXPECT_EQ(fake.closed, InnermostFirst());

  FakeWinInet fake2;
  fake2.sendResult = FALSE;
  c.cookies = &cookies;
  Send(fake2, c);
  EXPECT_EQ(returned, "a=1") << "the caller's cookies when merging applies";
  EXPECT_EQ(cookies, "a=1");
}

TEST(WebRequestFake, HeadersLongerThanTheBufferGiveBlanksAndNoCookies) {
  FakeWinInet fake;
  fake.chunks = {"body"};
  fake.rawHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nX-Pad: " + Text(5000, 'p') + "\r\n\r\n";
  Text headers, returned = "x";
  Call c{"http://h.example/"};
  c.responseHeaders = &headers;
  c.returnedCookies = &returned;
  EXPECT_EQ(Send(fake, c), "body");
  EXPECT_EQ(headers, Text(5000, ' '));
  EXPECT_EQ(returned, "");
}

TEST(WebRequestFake, ReadLoopCollectsEveryChunkUntilZero) {
  for (int size : {0, 1, 1023, 1024, 1025, 4096, 10000}) {
    FakeWinInet fake;
    Bytes body;
    for (int i = 0; i < size; ++i) body.push_back(static_cast<char>((i * 7 + 3) % 256));
    for (int at = 0; at < size; at += 1024) fake.chunks.push_back(body.substr(at, 1024));
    EXPECT_EQ(Send(fake, {"http://h.example/"}), body) << size;
    EXPECT_EQ(fake.readSizes.size(), fake.chunks.size() + 1) << "one more read that yields zero";
    for (DWORD asked : fake.readSizes) EXPECT_EQ(asked, 1024u);
  }
  // Short reads in the middle are appended as they come.
  FakeWinInet fake;
  fake.chunks = {"ab", Bytes("\0c", 2), "d"};
  EXPECT_EQ(Send(fake, {"http://h.example/"}), Bytes("ab\0cd", 5));
}

TEST(WebRequestFake, PortsThatDoNotFitAreNotCutDown) {
  for (const char* url : {"http://h.example:70000/", "http://h.example:-1/"}) {
    FakeWinInet fake;
    EXPECT_EQ(Send(fake, {url}), "");
    EXPECT_EQ(fake.calls, Calls({"Open", "CloseHandle"})) << url;
  }
  FakeWinInet fake;
  Send(fake, {"http://h.example:65535/"});
  EXPECT_EQ(fake.connects.at(0).port, 65535);
  FakeWinInet zero;
  Send(zero, {"http://h.example:/x"});
  EXPECT_EQ(zero.connects.at(0).port, 0) << "port 0 reaches the connection unchanged";
}

}  // namespace
