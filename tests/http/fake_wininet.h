// A recording stand-in for wininet.dll: hands out made-up handles, records the
// exact arguments of every call in order, and answers reads and the header
// query from a script.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/http/wininet_calls.h"

class FakeWinInet final : public WinInetCalls {
 public:
  // Script.
  bool failOpen = false, failConnect = false, failOpenRequest = false;
  std::vector<Bytes> chunks;       // returned by successive reads (each at most the size asked)
  std::optional<Text> rawHeaders;  // written by the query; absent: the query fails, buffer untouched
  bool sendResult = TRUE;

  // Record.
  std::vector<std::string> calls;  // call names in order
  struct OpenArgs {
    std::string agent;
    DWORD access;
    std::optional<std::string> proxy, bypass;
    DWORD flags;
  };
  std::vector<OpenArgs> opens;
  struct ConnectArgs {
    HINTERNET internet;
    std::string host;
    INTERNET_PORT port;
    bool userNull, passwordNull;
    DWORD service, flags;
    DWORD_PTR context;
  };
  std::vector<ConnectArgs> connects;
  struct RequestArgs {
    HINTERNET connection;
    std::string verb, path;
    std::optional<std::string> version;
    bool referrerNull, acceptTypesNull;
    DWORD flags;
    DWORD_PTR context;
  };
  std::vector<RequestArgs> requests;
  struct OptionArgs {
    HINTERNET handle;
    DWORD option, value, length;
  };
  std::vector<OptionArgs> options;
  struct SendArgs {
    HINTERNET request;
    std::string headers;
    DWORD headersLength;
    bool bodyNull;
    Bytes body;
  };
  std::vector<SendArgs> sends;
  std::vector<DWORD> readSizes;
  struct QueryArgs {
    HINTERNET request;
    DWORD level, lengthIn;
    bool indexNull;
  };
  std::vector<QueryArgs> queries;
  std::vector<HINTERNET> closed;

  static HINTERNET InternetH() { return reinterpret_cast<HINTERNET>(0x1001); }
  static HINTERNET ConnectionH() { return reinterpret_cast<HINTERNET>(0x2002); }
  static HINTERNET RequestH() { return reinterpret_cast<HINTERNET>(0x3003); }

  HINTERNET Open(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) override {
    calls.push_back("Open");
    opens.push_back({agent ? agent : "<null>", access, Opt(proxy), Opt(bypass), flags});
    return failOpen ? nullptr : InternetH();
  }
  HINTERNET Connect(HINTERNET internet, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password, DWORD service,
                    DWORD flags, DWORD_PTR context) override {
    calls.push_back("Connect");
    connects.push_back(
        {internet, host ? host : "<null>", port, user == nullptr, password == nullptr, service, flags, context});
    return failConnect ? nullptr : ConnectionH();
  }
  HINTERNET OpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR path, LPCSTR version, LPCSTR referrer,
                        LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context) override {
    calls.push_back("OpenRequest");
    requests.push_back({connection, verb ? verb : "<null>", path ? path : "<null>", Opt(version), referrer == nullptr,
                        acceptTypes == nullptr, flags, context});
    return failOpenRequest ? nullptr : RequestH();
  }
  BOOL SetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) override {
    calls.push_back("SetOption");
    DWORD value = 0;
    if (buffer && length == sizeof(DWORD)) value = *static_cast<DWORD*>(buffer);
    options.push_back({handle, option, value, length});
    return TRUE;
  }
  BOOL SendRequest(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID body, DWORD bodyLength) override {
    calls.push_back("SendRequest");
    sends.push_back({request, headers ? std::string(headers, headersLength) : "<null>", headersLength, body == nullptr,
                     body ? Bytes(static_cast<const char*>(body), bodyLength) : Bytes()});
    return sendResult;
  }
  BOOL ReadFile(HINTERNET, LPVOID buffer, DWORD toRead, LPDWORD read) override {
    calls.push_back("ReadFile");
    readSizes.push_back(toRead);
    if (next_ >= chunks.size()) {
      *read = 0;
      return TRUE;
    }
    const Bytes& chunk = chunks[next_++];
    DWORD n = std::min<DWORD>(toRead, static_cast<DWORD>(chunk.size()));
    std::copy_n(chunk.data(), n, static_cast<char*>(buffer));
    *read = n;
    return TRUE;
  }
  BOOL QueryInfo(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index) override {
    calls.push_back("QueryInfo");
    queries.push_back({request, level, *length, index == nullptr});
    if (!rawHeaders || rawHeaders->size() + 1 > *length) {
      if (rawHeaders) *length = static_cast<DWORD>(rawHeaders->size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::copy_n(rawHeaders->c_str(), rawHeaders->size() + 1, static_cast<char*>(buffer));
    *length = static_cast<DWORD>(rawHeaders->size());
    return TRUE;
  }
  BOOL CloseHandle(HINTERNET handle) override {
    calls.push_back("CloseHandle");
    closed.push_back(handle);
    return TRUE;
  }

 private:
  static std::optional<std::string> Opt(LPCSTR s) { return s ? std::optional<std::string>(s) : std::nullopt; }
  size_t next_ = 0;
};
