#include "app/http/web_request.h"

#include "app/http/cookies.h"
#include "app/http/headers.h"
#include "app/http/url.h"
#include "app/http/wininet_calls.h"

namespace {

const char* const kVerbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};

constexpr DWORD kAccessDirect = 1;  // INTERNET_OPEN_TYPE_DIRECT
constexpr DWORD kAccessProxy = 3;   // INTERNET_OPEN_TYPE_PROXY
constexpr DWORD kServiceHttp = 3;   // INTERNET_SERVICE_HTTP

constexpr int32_t kFlagReload = static_cast<int32_t>(0x80000000);  // INTERNET_FLAG_RELOAD
constexpr int32_t kFlagNeedFile = 0x10;                            // INTERNET_FLAG_NEED_FILE
constexpr int32_t kFlagNoCookies = 0x80000;                        // INTERNET_FLAG_NO_COOKIES
constexpr int32_t kFlagNoAutoRedirect = 0x200000;                  // INTERNET_FLAG_NO_AUTO_REDIRECT
constexpr int32_t kFlagSecure = 0x800000;                          // INTERNET_FLAG_SECURE
constexpr int32_t kFlagIgnoreRedirectToHttps = 0x4000;             // INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS

// INTERNET_OPTION_SECURITY_FLAGS with every SECURITY_FLAG_IGNORE_* the routine
// tolerates: revocation, unknown CA, wrong usage, CN, date, both redirect
// directions and weak signatures.
constexpr DWORD kOptionSecurityFlags = 31;
constexpr DWORD kSecurityIgnoreFlags = 0x1F380;

constexpr DWORD kQueryRawHeadersCrLf = 22;  // HTTP_QUERY_RAW_HEADERS_CRLF
constexpr int kReadChunk = 1024;
constexpr int kHeaderBuffer = 5000;

}  // namespace

Bytes WebRequestThrough(WinInetCalls& calls, const Text& url, int method, const Text& postText, Text* cookies,
                        Text* returnedCookies, const Text& extraHeaders, Text* responseHeaders, bool noRedirect,
                        Bytes* postBytes, const Text& proxy, bool mergeCookies, bool completeHeaders,
                        bool normalizeHeaderNames, bool socksProxy) {
  Text headers = extraHeaders;
  if (normalizeHeaderNames) headers = NormalizeHeaderNames(headers);
  if (method < 0 || method > 7) method = kGet;
  const bool https = IsHttpsUrl(url);
  const Text agent = AgentFromHeaders(headers);

  DWORD access = kAccessDirect;
  Text proxyText, bypassText;
  if (!proxy.empty()) {
    access = kAccessProxy;
    if (socksProxy)
      proxyText = "SOCKS=" + proxy;
    else if (https)
      proxyText = proxy;
    else
      proxyText = "http=" + proxy;
  }
  const bool viaProxy = access == kAccessProxy;
  InternetHandle internet(calls, calls.Open(agent.c_str(), access, viaProxy ? proxyText.c_str() : nullptr,
                                            viaProxy ? bypassText.c_str() : nullptr, 0));
  if (!internet) return {};

  // A port that does not fit the connection's 16 bits would be cut down to a
  // different port; such a URL is refused like a failed connection.
  const int port = UrlPort(url);
  if (port < 0 || port > 0xFFFF) return {};
  const Text host = UrlHost(url);
  InternetHandle connection(calls, calls.Connect(internet.Get(), host.c_str(), static_cast<INTERNET_PORT>(port),
                                                 nullptr, nullptr, kServiceHttp, 0, 0));
  if (!connection) return {};

  int32_t flags = BitOr(kFlagReload, kFlagNeedFile);
  if (cookies) flags = BitOr(flags, kFlagNoCookies);
  if (noRedirect) flags = BitOr(flags, kFlagNoAutoRedirect);
  flags = BitOr(flags, https ? kFlagSecure : kFlagIgnoreRedirectToHttps);
  const Text path = UrlObjectPath(url);
  InternetHandle request(calls, calls.OpenRequest(connection.Get(), kVerbs[method], path.c_str(), "HTTP/1.1", nullptr,
                                                  nullptr, static_cast<DWORD>(flags), 0));
  if (!request) return {};

  DWORD securityFlags = kSecurityIgnoreFlags;
  calls.SetOption(request.Get(), kOptionSecurityFlags, &securityFlags, sizeof(securityFlags));

  if (completeHeaders) headers = CompleteDefaultHeaders(headers, url, method);
  if (cookies && !cookies->empty()) headers = AppendCookieHeader(headers, *cookies);

  BOOL sent;
  if (method == kGet) {
    sent = calls.SendRequest(request.Get(), headers.c_str(), static_cast<DWORD>(TextLength(headers)), nullptr, 0);
  } else {
    Bytes ownBody;
    Bytes& body = postBytes ? *postBytes : ownBody;
    if (body.empty()) body = TextToBytes(postText);
    sent = calls.SendRequest(request.Get(), headers.c_str(), static_cast<DWORD>(TextLength(headers)), body.data(),
                             static_cast<DWORD>(BytesLength(body)));
  }

  // A request that could not be sent has no response: no body, and the header
  // buffer keeps its 5000 spaces. (Some WinINet builds answer the header query
  // of such a request with a bare CR LF instead of failing.)
  Bytes received;
  Text rawHeaders = BlankText(kHeaderBuffer);
  if (sent) {
    Bytes buffer = BlankBytes(kReadChunk);
    for (;;) {
      DWORD count = 0;  // a failed read leaves it at zero
      calls.ReadFile(request.Get(), buffer.data(), kReadChunk, &count);
      if (count == 0) break;
      received += LeftBytes(buffer, static_cast<int>(count));
    }
    DWORD headerLength = kHeaderBuffer;
    calls.QueryInfo(request.Get(), kQueryRawHeadersCrLf, rawHeaders.data(), &headerLength, nullptr);
    rawHeaders = BytesToText(rawHeaders);
  }

  request.Close();
  connection.Close();
  internet.Close();

  Text setCookies = CollectSetCookies(SplitText(rawHeaders, "\r\n"));
  if (mergeCookies && cookies) setCookies = MergeCookies(*cookies, setCookies);
  if (returnedCookies) *returnedCookies = setCookies;
  if (responseHeaders) *responseHeaders = rawHeaders;
  return received;
}

Bytes WebRequest(const Text& url, int method, const Text& postText, Text* cookies, Text* returnedCookies,
                 const Text& extraHeaders, Text* responseHeaders, bool noRedirect, Bytes* postBytes, const Text& proxy,
                 bool mergeCookies, bool completeHeaders, bool normalizeHeaderNames, bool socksProxy) {
  return WebRequestThrough(SystemWinInet(), url, method, postText, cookies, returnedCookies, extraHeaders,
                           responseHeaders, noRedirect, postBytes, proxy, mergeCookies, completeHeaders,
                           normalizeHeaderNames, socksProxy);
}
