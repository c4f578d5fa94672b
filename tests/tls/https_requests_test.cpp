// CONNECT targets, the URLs of requests inside a tunnel, and the proxy's own
// CA pages.
#include "package/proxy/tls/https_requests.h"

#include <gtest/gtest.h>

namespace tunnel {
namespace {

TEST(HttpsRequests, ConnectTargets) {
  struct Case {
    const char* target;
    bool ok;
    const char* host = "";
    uint16_t port = 0;
  } cases[] = {
      {"example.com:443", true, "example.com", 443},
      {"Example.com:8443", true, "Example.com", 8443},
      {"127.0.0.1:1", true, "127.0.0.1", 1},
      {"[::1]:65535", true, "[::1]", 65535},
      {"example.com", false}, {"example.com:", false}, {":443", false}, {"example.com:0", false},
      {"example.com:65536", false}, {"example.com:44x", false}, {"example.com:+443", false},
      {"::1:443", false}, {"[::1]", false}, {"[::1]443", false}, {"", false}, {"example.com:443 ", false},
      {"example.com:004430", false},
  };
  for (const Case& c : cases) {
    std::string host;
    uint16_t port = 0;
    EXPECT_EQ(ParseConnectTarget(c.target, host, port), c.ok) << c.target;
    if (!c.ok) continue;
    EXPECT_EQ(host, c.host) << c.target;
    EXPECT_EQ(port, c.port) << c.target;
  }
  EXPECT_EQ(HttpsOrigin("a.test", 443), "https://a.test");
  EXPECT_EQ(HttpsOrigin("[::1]", 8443), "https://[::1]:8443");
}

TEST(HttpsRequests, UrlsInsideTheTunnel) {
  struct Case {
    const char* target;
    const char* host;
    uint16_t port;
    const char* url;  // nullptr: refused
  } cases[] = {
      {"/", "a.test", 443, "https://a.test/"},
      {"/p?q=1&r=/x", "a.test", 443, "https://a.test/p?q=1&r=/x"},
      {"/p", "a.test", 8443, "https://a.test:8443/p"},
      {"/p", "[::1]", 4430, "https://[::1]:4430/p"},
      {"https://a.test/x", "a.test", 443, "https://a.test/x"},
      {"https://A.TEST:443/x", "a.test", 443, "https://A.TEST:443/x"},
      {"https://b.test/x", "a.test", 443, nullptr},
      {"https://a.test:444/x", "a.test", 443, nullptr},
      {"http://a.test/x", "a.test", 443, nullptr},
      {"*", "a.test", 443, nullptr},
      {"a.test:443", "a.test", 443, nullptr},
      {"", "a.test", 443, nullptr},
  };
  for (const Case& c : cases) {
    std::string url, error;
    bool ok = TunnelRequestUrl(c.target, c.host, c.port, url, error);
    EXPECT_EQ(ok, c.url != nullptr) << c.target;
    if (ok) EXPECT_EQ(url, c.url) << c.target;
    else EXPECT_FALSE(error.empty()) << c.target;
  }
}

TEST(HttpsRequests, LocalPages) {
  struct Case {
    const char* target;
    LocalPage page;
  } cases[] = {
      {"/", LocalPage::kHelp},
      {"/ca", LocalPage::kHelp},
      {"/ca?x=1", LocalPage::kHelp},
      {"/ca.crt", LocalPage::kCaCert},
      {"http://127.0.0.1:8088/ca.crt", LocalPage::kCaCert},
      {"http://127.0.0.1:8088/", LocalPage::kHelp},
      {"http://localhost:8088/ca", LocalPage::kHelp},
      {"/favicon.ico", LocalPage::kNone},
      {"/ca.crt/x", LocalPage::kNone},
      {"http://127.0.0.1:8089/ca.crt", LocalPage::kNone},
      {"http://example.com:8088/ca.crt", LocalPage::kNone},
      {"https://127.0.0.1:8088/ca.crt", LocalPage::kNone},
      {"http://example.com/", LocalPage::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(FindLocalPage(c.target, "127.0.0.1", 8088), c.page) << c.target;
}

size_t ContentLength(const std::string& response) {
  size_t at = response.find("Content-Length: ");
  return at == std::string::npos ? 0 : std::stoul(response.substr(at + 16));
}

TEST(HttpsRequests, CaResponsesAreCompleteAndDeclareTheirType) {
  const std::string pem = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  std::string cert = CaCertResponse(pem, false, false);
  EXPECT_EQ(cert.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_NE(cert.find("Content-Type: application/x-x509-ca-cert\r\n"), std::string::npos);
  EXPECT_EQ(cert.substr(cert.find("\r\n\r\n") + 4), pem);
  EXPECT_EQ(ContentLength(cert), pem.size());
  EXPECT_EQ(cert.find("Connection: close"), std::string::npos);
  std::string head = CaCertResponse(pem, true, true);
  EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");
  EXPECT_EQ(ContentLength(head), pem.size());
  EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos);

  std::string page = CaHelpResponse("127.0.0.1:8088", "AB:CD", "C:\\Users\\u\\AppData\\Roaming\\Corvalen<x>", false, false);
  std::string body = page.substr(page.find("\r\n\r\n") + 4);
  EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
  EXPECT_EQ(ContentLength(page), body.size());
  EXPECT_NE(body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(body.find("http://127.0.0.1:8088/ca.crt"), std::string::npos);
  EXPECT_NE(body.find("AB:CD"), std::string::npos);
  EXPECT_NE(body.find("Corvalen&lt;x&gt;"), std::string::npos);
  // UTF-8, not the GBK of narrow literals: "受信任的根证书颁发机构".
  EXPECT_NE(body.find("\xe5\x8f\x97\xe4\xbf\xa1\xe4\xbb\xbb\xe7\x9a\x84\xe6\xa0\xb9\xe8\xaf\x81\xe4\xb9\xa6"),
            std::string::npos);
  std::string pageHead =
      CaHelpResponse("127.0.0.1:8088", "AB:CD", "C:\\Users\\u\\AppData\\Roaming\\Corvalen<x>", true, true);
  EXPECT_EQ(pageHead.substr(pageHead.find("\r\n\r\n") + 4), "");
  EXPECT_EQ(ContentLength(pageHead), body.size());
  EXPECT_NE(pageHead.find("Connection: close\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tunnel
