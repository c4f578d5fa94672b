// The eight WinINet calls the request routine makes, behind one interface, so
// that tests can put a recording fake in place of wininet.dll. The real one
// forwards to the ANSI entry points unchanged.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "common/text.h"

class WinInetCalls {
 public:
  virtual ~WinInetCalls() = default;
  virtual HINTERNET Open(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags) = 0;
  virtual HINTERNET Connect(HINTERNET internet, LPCSTR serverName, INTERNET_PORT port, LPCSTR userName, LPCSTR password,
                            DWORD service, DWORD flags, DWORD_PTR context) = 0;
  virtual HINTERNET OpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR objectName, LPCSTR version, LPCSTR referrer,
                                LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context) = 0;
  virtual BOOL SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) = 0;
  virtual BOOL SendRequest(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                           DWORD optionalLength) = 0;
  virtual BOOL ReadFile(HINTERNET handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) = 0;
  virtual BOOL QueryInfo(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) = 0;
  virtual BOOL CloseHandle(HINTERNET handle) = 0;
};

// wininet.dll itself.
WinInetCalls& SystemWinInet();

// Owns one HINTERNET and closes it through the calls that opened it.
class InternetHandle {
 public:
  InternetHandle() = default;
  InternetHandle(WinInetCalls& calls, HINTERNET handle) : calls_(&calls), handle_(handle) {}
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  InternetHandle(InternetHandle&& other) noexcept
      : calls_(other.calls_), handle_(std::exchange(other.handle_, nullptr)) {}
  InternetHandle& operator=(InternetHandle&& other) noexcept {
    if (this != &other) {
      Close();
      calls_ = other.calls_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() {
    if (handle_) calls_->CloseHandle(std::exchange(handle_, nullptr));
  }

 private:
  WinInetCalls* calls_ = nullptr;
  HINTERNET handle_ = nullptr;
};

// WebRequest (app/http/web_request.h) with the WinINet calls given.
Bytes WebRequestThrough(WinInetCalls& calls, const Text& url, int method, const Text& postText, Text* cookies,
                        Text* returnedCookies, const Text& extraHeaders, Text* responseHeaders, bool noRedirect,
                        Bytes* postBytes, const Text& proxy, bool mergeCookies, bool completeHeaders,
                        bool normalizeHeaderNames, bool socksProxy);
