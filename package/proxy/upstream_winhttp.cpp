// Upstream over WinHTTP, for https:// fetch servers: WinHTTP brings TLS with
// the system's certificate checks and keeps connections alive by itself.
#include <windows.h>
#include <winhttp.h>

#include <mutex>

#include "common/handles.h"
#include "package/proxy/envelope.h"
#include "package/proxy/upstream.h"

namespace tunnel {
namespace {

struct InternetTraits {
  using Value = HINTERNET;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { WinHttpCloseHandle(v); }
};
using InternetHandle = UniqueHandle<InternetTraits>;

constexpr size_t kBufferSize = 1 << 20;

std::mutex g_sessionLock;
InternetHandle g_session;

HINTERNET Session() {
  std::lock_guard<std::mutex> lock(g_sessionLock);
  if (!g_session) {
    g_session.Reset(WinHttpOpen(L"corvalen-proxy/1", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
  }
  return g_session.Get();
}

std::wstring Widen(const std::string& s) {
  // Host names and paths of a URL are ASCII.
  return std::wstring(s.begin(), s.end());
}

class WinHttpUpstream final : public Upstream {
 public:
  explicit WinHttpUpstream(const UpstreamSettings& s) : settings_(s) {}

  UpResult Begin(std::string_view first, uint64_t total) override {
    request_.Close();
    if (total > 0xFFFFFFFFull) {
      error_ = "request too large for the fetch server connection";
      return UpResult::kFailed;
    }
    HINTERNET session = Session();
    if (!session) {
      error_ = "WinHTTP is not available";
      return UpResult::kConnectFailed;
    }
    if (!connect_) {
      std::string host = settings_.url.host;
      if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
      connect_.Reset(WinHttpConnect(session, Widen(host).c_str(), settings_.url.port, 0));
      if (!connect_) {
        error_ = "cannot reach the fetch server " + settings_.url.host;
        return UpResult::kConnectFailed;
      }
    }
    request_.Reset(WinHttpOpenRequest(connect_.Get(), L"POST", Widen(settings_.url.path).c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      settings_.url.scheme == "https" ? WINHTTP_FLAG_SECURE : 0));
    if (!request_) {
      error_ = "cannot start a request to the fetch server";
      return UpResult::kConnectFailed;
    }
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request_.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    int timeout = static_cast<int>(settings_.responseTimeoutMs);
    WinHttpSetTimeouts(request_.Get(), static_cast<int>(settings_.connectTimeoutMs),
                       static_cast<int>(settings_.connectTimeoutMs), timeout, timeout);
    std::wstring headers = L"Content-Type: " + Widen(std::string(kEnvelopeContentType)) + L"\r\n";
    if (!WinHttpSendRequest(request_.Get(), headers.c_str(), static_cast<DWORD>(-1),
                            const_cast<char*>(first.data()), static_cast<DWORD>(first.size()),
                            static_cast<DWORD>(total), 0)) {
      return Failed("cannot connect to the fetch server", UpResult::kConnectFailed);
    }
    return UpResult::kOk;
  }

  UpResult Write(const char* p, size_t n) override {
    while (n > 0) {
      DWORD written = 0;
      DWORD take = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
      if (!WinHttpWriteData(request_.Get(), p, take, &written) || written == 0)
        return Failed("sending to the fetch server failed", UpResult::kFailed);
      p += written;
      n -= written;
    }
    return UpResult::kOk;
  }

  UpResult ReceiveHead(OuterHead& out) override {
    if (!WinHttpReceiveResponse(request_.Get(), nullptr))
      return Failed("the fetch server did not answer", UpResult::kBadResponse);
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      return Failed("the fetch server's answer has no status", UpResult::kBadResponse);
    out.status = static_cast<int>(status);
    out.contentType = QueryText(WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX);
    out.fetchMarker = QueryText(WINHTTP_QUERY_CUSTOM, L"X-Corvalen-Fetch");
    if (!buf_) buf_.reset(new char[kBufferSize]);
    return UpResult::kOk;
  }

  UpResult Read(const char*& p, size_t& n) override {
    DWORD got = 0;
    if (!WinHttpReadData(request_.Get(), buf_.get(), kBufferSize, &got))
      return Failed("the fetch server's answer broke off", UpResult::kFailed);
    p = buf_.get();
    n = got;
    return UpResult::kOk;
  }

  void Finish(bool reusable) override {
    // WinHTTP keeps the connection only for an answer read to its end.
    for (int i = 0; reusable && request_ && i < 4; ++i) {
      DWORD got = 0;
      if (!WinHttpReadData(request_.Get(), buf_.get(), kBufferSize, &got) || got == 0) break;
    }
    request_.Close();
  }

  const std::string& Error() const override { return error_; }

 private:
  UpResult Failed(const char* what, UpResult r) {
    DWORD e = GetLastError();
    if (e == ERROR_WINHTTP_TIMEOUT) {
      error_ = "the fetch server did not answer in time";
      return UpResult::kTimeout;
    }
    error_ = std::string(what) + " (WinHTTP error " + std::to_string(e) + ")";
    if (e == ERROR_WINHTTP_SECURE_FAILURE) error_ += ": its certificate was not accepted";
    if (e == ERROR_WINHTTP_SECURE_CHANNEL_ERROR)
      error_ += ": the secure connection failed (certificate not accepted, or no common TLS version)";
    return r;
  }

  std::string QueryText(DWORD what, const wchar_t* name) {
    wchar_t text[512];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request_.Get(), what, name, text, &size, WINHTTP_NO_HEADER_INDEX)) return {};
    std::string out;
    for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    return out;
  }

  UpstreamSettings settings_;
  InternetHandle connect_;
  InternetHandle request_;
  std::unique_ptr<char[]> buf_;
  std::string error_;
};

}  // namespace

std::unique_ptr<Upstream> MakeWinHttpUpstream(const UpstreamSettings& settings) {
  return std::make_unique<WinHttpUpstream>(settings);
}

void CloseWinHttpSession() {
  std::lock_guard<std::mutex> lock(g_sessionLock);
  g_session.Close();
}

}  // namespace tunnel
