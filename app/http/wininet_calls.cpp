#include "app/http/wininet_calls.h"

namespace {

class SystemCalls final : public WinInetCalls {
 public:
  HINTERNET Open(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags) override {
    return InternetOpenA(agent, accessType, proxy, proxyBypass, flags);
  }
  HINTERNET Connect(HINTERNET internet, LPCSTR serverName, INTERNET_PORT port, LPCSTR userName, LPCSTR password,
                    DWORD service, DWORD flags, DWORD_PTR context) override {
    return InternetConnectA(internet, serverName, port, userName, password, service, flags, context);
  }
  HINTERNET OpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR objectName, LPCSTR version, LPCSTR referrer,
                        LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context) override {
    return HttpOpenRequestA(connection, verb, objectName, version, referrer, acceptTypes, flags, context);
  }
  BOOL SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) override {
    return InternetSetOptionA(handle, option, buffer, bufferLength);
  }
  BOOL SendRequest(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                   DWORD optionalLength) override {
    return HttpSendRequestA(request, headers, headersLength, optional, optionalLength);
  }
  BOOL ReadFile(HINTERNET handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) override {
    return InternetReadFile(handle, buffer, bytesToRead, bytesRead);
  }
  BOOL QueryInfo(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) override {
    return HttpQueryInfoA(request, infoLevel, buffer, bufferLength, index);
  }
  BOOL CloseHandle(HINTERNET handle) override { return InternetCloseHandle(handle); }
};

}  // namespace

WinInetCalls& SystemWinInet() {
  static SystemCalls calls;
  return calls;
}
