// WebRequest through the real wininet.dll against the local test servers of
// tests/servers (started by with_servers.py, found through the environment).
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/http/web_request.h"

namespace {

Text Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

Text Http() { return "http://" + Env("CORVALEN_TEST_HTTP"); }

Bytes Pattern(int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<char>((i * 7 + 3) % 256));
  return b;
}

// The request as the echo path saw it: everything before the blank line.
Text Head(const Bytes& echo) { return echo.substr(0, echo.find("\r\n\r\n") + 2); }
Bytes EchoBody(const Bytes& echo) {
  size_t at = echo.find("\r\n\r\n");
  return at == Bytes::npos ? Bytes() : echo.substr(at + 4);
}
bool HasLine(const Text& head, const Text& line) { return head.find("\r\n" + line + "\r\n") != Text::npos; }
int CountOf(const Text& head, const Text& what) {
  int n = 0;
  for (size_t at = head.find(what); at != Text::npos; at = head.find(what, at + 1)) ++n;
  return n;
}

class WebRequestLive : public testing::Test {
 protected:
  void SetUp() override {
    if (Env("CORVALEN_TEST_HTTP").empty()) GTEST_FAIL() << "run through tests/servers/with_servers.py";
  }
};

TEST_F(WebRequestLive, GetWithAllOptionsOmittedSendsTheThreeDefaultLines) {
  const Text url = Http() + "/echo/a/B?c=1";
  Text headers;
  Bytes echo = WebRequest(url, kGet, {}, nullptr, nullptr, {}, &headers);
  const Text head = Head(echo);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /echo/a/B?c=1 HTTP/1.1");
  EXPECT_TRUE(HasLine(head, "Host: " + Env("CORVALEN_TEST_HTTP"))) << head;
  EXPECT_TRUE(HasLine(head, "Accept: */*")) << head;
  EXPECT_TRUE(HasLine(head, "Referer: " + url)) << head;
  EXPECT_TRUE(HasLine(head, "Accept-Language: zh-cn")) << head;
  EXPECT_TRUE(HasLine(head, "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)")) << head;
  EXPECT_EQ(CountOf(head, "Accept:"), 1) << head;
  EXPECT_EQ(head.find("Content-Type"), Text::npos) << head;
  EXPECT_EQ(head.find("Cookie"), Text::npos) << head;
  EXPECT_EQ(EchoBody(echo), "");
  EXPECT_EQ(headers.substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(WebRequestLive, FullPostSendsHeadersBodyAndCookieAndMergesTheResponseCookies) {
  const Text url = Http() + "/echo/login";
  Text cookies = "sid=x", returned, headers;
  Bytes echo = WebRequest(url, kPost, "a=1", &cookies, &returned, "user-agent: Tool/1.0", &headers);
  const Text head = Head(echo);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /echo/login HTTP/1.1");
  for (const Text& line :
       {Text("User-Agent: Tool/1.0"), Text("Accept: */*"), "Referer: " + url, Text("Accept-Language: zh-cn"),
        Text("Content-Type: application/x-www-form-urlencoded"), Text("Cookie: sid=x"), Text("Content-Length: 3")})
    EXPECT_TRUE(HasLine(head, line)) << line << "\n" << head;
  EXPECT_EQ(CountOf(head, "User-Agent:"), 1) << head;
  EXPECT_EQ(EchoBody(echo), "a=1");

  // The next request sets cookies; merging keeps the caller's unset ones.
  Text setUrl = Http() + "/cookies?set=sid%3Dnew%3B%20path%3D%2F&set=lang%3Dzh%3B%20HttpOnly&set=flag%3D1";
  EXPECT_EQ(WebRequest(setUrl, kGet, {}, &cookies, &returned), "cookies set");
  EXPECT_EQ(returned, "sid=new; lang=zh");
  EXPECT_EQ(cookies, "sid=new; lang=zh");
  Text other = "keep=1; lang=old";
  EXPECT_EQ(WebRequest(setUrl, kGet, {}, &other, &returned), "cookies set");
  EXPECT_EQ(other, "sid=new; lang=zh; keep=1");
}

TEST_F(WebRequestLive, PlatformCookiesApplyOnlyWhenTheCallerGivesNone) {
  // Without a cookie text of the caller, WinINet keeps and sends what servers set.
  WebRequest(Http() + "/cookies?set=store%3D1%3B%20path%3D%2Fecho%2Fstore");
  Text head = Head(WebRequest(Http() + "/echo/store/a"));
  EXPECT_TRUE(HasLine(head, "Cookie: store=1")) << head;
  // With one, even an empty one, only the caller's cookies go out.
  Text none;
  head = Head(WebRequest(Http() + "/echo/store/b", kGet, {}, &none));
  EXPECT_EQ(head.find("Cookie"), Text::npos) << head;
  Text mine = "own=2";
  head = Head(WebRequest(Http() + "/echo/store/c", kGet, {}, &mine));
  EXPECT_TRUE(HasLine(head, "Cookie: own=2")) << head;
  EXPECT_EQ(head.find("store=1"), Text::npos) << head;
}

TEST_F(WebRequestLive, MethodsOutsideTheTableSendGetWithoutBody) {
  for (int method : {9, -1}) {
    Bytes post = "ignored bytes";
    Bytes echo = WebRequest(Http() + "/echo/m", method, "a=1", nullptr, nullptr, {}, nullptr, false, &post);
    const Text head = Head(echo);
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /echo/m HTTP/1.1") << method;
    EXPECT_EQ(EchoBody(echo), "") << method;
    EXPECT_EQ(head.find("Content-Type"), Text::npos) << method;
    EXPECT_EQ(post, "ignored bytes");
  }
}

TEST_F(WebRequestLive, PutSendsTheBytesAndFillsPostBytesFromText) {
  Bytes post;
  Bytes echo = WebRequest(Http() + "/echo/put", kPut, "a=1&b=2", nullptr, nullptr, {}, nullptr, false, &post);
  EXPECT_EQ(Head(echo).substr(0, 17), "PUT /echo/put HTT");
  EXPECT_EQ(EchoBody(echo), "a=1&b=2");
  EXPECT_EQ(post, "a=1&b=2");
}

TEST_F(WebRequestLive, RedirectsAreFollowedUnlessNoRedirect) {
  for (const char* code : {"301", "302"}) {
    const Text url = Http() + "/redirect/" + code + "?to=/echo/landed";
    Text headers;
    Bytes followed = WebRequest(url, kGet, {}, nullptr, nullptr, {}, &headers);
    EXPECT_EQ(Head(followed).substr(0, 21), "GET /echo/landed HTTP") << code;
    EXPECT_EQ(headers.substr(0, 12), "HTTP/1.1 200");

    Text returned;
    Bytes stopped = WebRequest(url, kGet, {}, nullptr, &returned, {}, &headers, true);
    EXPECT_EQ(stopped, "moved away") << code;
    EXPECT_EQ(headers.substr(0, 12), Text("HTTP/1.1 ") + code);
    EXPECT_NE(headers.find("\r\nLocation: /echo/landed\r\n"), Text::npos) << headers;
    EXPECT_EQ(returned, "hop=1");
  }
}

TEST_F(WebRequestLive, UnreachableHostGivesEmptyBodyAndBlankHeaders) {
  Text headers = "before", returned = "before";
  Bytes body = WebRequest("http://" + Env("CORVALEN_TEST_CLOSED") + "/x", kGet, {}, nullptr, &returned, {}, &headers);
  EXPECT_EQ(body, "");
  EXPECT_EQ(headers, Text(5000, ' '));
  EXPECT_EQ(returned, "");
}

TEST_F(WebRequestLive, BodiesComeBackWhole) {
  for (int size : {0, 1, 1023, 1024, 1025, 2048, 70001}) {
    Bytes body = WebRequest(Http() + "/bytes/" + std::to_string(size));
    EXPECT_EQ(body.size(), static_cast<size_t>(size));
    EXPECT_TRUE(body == Pattern(size)) << size;
  }
}

TEST_F(WebRequestLive, ErrorStatusReturnsItsPage) {
  Text headers;
  Bytes body = WebRequest(Http() + "/status/404", kGet, {}, nullptr, nullptr, {}, &headers);
  EXPECT_EQ(body, "<html><head><title>404</title></head>\r\n<body>error 404</body></html>\r\n");
  EXPECT_EQ(headers.substr(0, 13), "HTTP/1.1 404 ");
}

TEST_F(WebRequestLive, DroppedConnectionGivesTheBytesReadSoFar) {
  Bytes body = WebRequest(Http() + "/drop/3000");
  EXPECT_TRUE(body == Pattern(3000)) << body.size();
}

TEST_F(WebRequestLive, HeadersBeyondTheBufferGiveBlanks) {
  Text headers, returned;
  Bytes body = WebRequest(Http() + "/bigheaders/6000", kGet, {}, nullptr, &returned, {}, &headers);
  EXPECT_EQ(body, "big headers");
  EXPECT_EQ(headers, Text(5000, ' '));
  EXPECT_EQ(returned, "");
  // Just below the limit the headers arrive whole.
  body = WebRequest(Http() + "/bigheaders/4000", kGet, {}, nullptr, &returned, {}, &headers);
  EXPECT_EQ(body, "big headers");
  EXPECT_EQ(headers.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(returned, "big=1");
}

TEST_F(WebRequestLive, HttpsWithASelfSignedCertificate) {
  const Text url = "https://" + Env("CORVALEN_TEST_HTTPS") + "/echo/secure";
  Text headers;
  Bytes echo = WebRequest(url, kGet, {}, nullptr, nullptr, {}, &headers);
  EXPECT_EQ(Head(echo).substr(0, 21), "GET /echo/secure HTTP") << headers.substr(0, 40);
  EXPECT_TRUE(HasLine(Head(echo), "Referer: " + url));
  Bytes big = WebRequest("https://" + Env("CORVALEN_TEST_HTTPS") + "/bytes/5000");
  EXPECT_TRUE(big == Pattern(5000)) << big.size();
}

TEST_F(WebRequestLive, ForwardProxyReceivesTheAbsoluteRequestLine) {
  // "localhost" rather than the address the other cases use: Wine's WinINet
  // would reuse a kept-alive direct connection to the same host and port.
  Text port = Env("CORVALEN_TEST_HTTP");
  port = port.substr(port.find(':'));
  const Text url = "http://localhost" + port + "/echo/via-proxy";
  Text headers;
  Bytes echo = WebRequest(url, kGet, {}, nullptr, nullptr, {}, &headers, false, nullptr, Env("CORVALEN_TEST_PROXY"));
  EXPECT_NE(headers.find("\r\nX-Proxy-Request-Line: GET " + url + " HTTP/1.1\r\n"), Text::npos) << headers;
  EXPECT_EQ(Head(echo).substr(0, 24), "GET /echo/via-proxy HTTP");
}

}  // namespace
