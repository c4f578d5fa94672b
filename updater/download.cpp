#include "updater/download.h"

#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/handles.h"
#include "updater/download_rules.h"

namespace {

struct InternetHandleTraits {
  using Value = HINTERNET;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { InternetCloseHandle(v); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

constexpr DWORD kProxyInUse = 4;             // INTERNET_CONNECTION_PROXY
constexpr DWORD kAccessWithProxy = 0;        // INTERNET_OPEN_TYPE_PRECONFIG
constexpr DWORD kAccessWithoutProxy = 4;     // ..._PRECONFIG_WITH_NO_AUTOPROXY
constexpr DWORD kRequestFlags = 0x84000100;  // RELOAD | NO_CACHE_WRITE | PRAGMA_NOCACHE
constexpr DWORD kLengthQuery = 0x20000005;   // CONTENT_LENGTH | FLAG_NUMBER
constexpr DWORD kStatusQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;

int32_t QueryNumber(HINTERNET request, DWORD query, int32_t otherwise) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (!HttpQueryInfoA(request, query, &value, &size, nullptr)) return otherwise;
  return static_cast<int32_t>(value);
}

Text QueryText(HINTERNET request, DWORD query) {
  char buffer[256] = {};
  DWORD size = sizeof(buffer) - 1;
  if (!HttpQueryInfoA(request, query, buffer, &size, nullptr)) return {};
  return Text(buffer, size);
}

bool WriteAll(HANDLE file, const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD wrote = 0;
    if (!WriteFile(file, bytes, count, &wrote, nullptr) || wrote == 0) return false;
    bytes += wrote;
    count -= wrote;
  }
  return true;
}

int Fail(UpdaterView& view, const char* message) {
  view.ShowMessage(message);
  return -1;
}

}  // namespace

const char* const kDownloadHeaders =
    "Accept: */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

int32_t GetTickMs() { return static_cast<int32_t>(GetTickCount()); }

void ShowDownloadProgress(UpdaterView& view, int32_t announced, int32_t received) {
  view.SetProgressPosition(ProgressPosition(announced, received));
}

int DownloadToFile(const Text& url, const Text& localName, UpdaterView& view) {
  DWORD connection = 0;
  InternetGetConnectedState(&connection, 0);  // only the flags matter
  const Text agent = "Agent" + std::to_string(GetTickMs());
  const DWORD access =
      BitAnd(static_cast<int32_t>(connection), kProxyInUse) == 0 ? kAccessWithoutProxy : kAccessWithProxy;
  InternetHandle session(InternetOpenA(agent.c_str(), access, nullptr, nullptr, 0));
  if (!session) return Fail(view, kConnectError);

  const Text headers = kDownloadHeaders;
  InternetHandle request(InternetOpenUrlA(session.Get(), url.c_str(), headers.c_str(),
                                          static_cast<DWORD>(TextLength(headers)), kRequestFlags, 0));
  if (!request) return Fail(view, kOpenUrlError);
  // An error page is no program: judged before the local file is touched.
  if (!IsSuccessStatus(QueryNumber(request.Get(), kStatusQuery, 0))) return Fail(view, kOpenUrlError);

  FileHandle file(CreateFileA(localName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Fail(view, kOpenLocalFileError);

  const int32_t announced = QueryNumber(request.Get(), kLengthQuery, 0);
  // The body is stored as it arrives; a compressed one would not be the program.
  if (!IsPlainEncoding(QueryText(request.Get(), HTTP_QUERY_CONTENT_ENCODING))) return Fail(view, kReadError);

  Bytes buffer = BlankBytes(kDownloadBlockSize);
  Text head;  // the first two bytes received
  int64_t received = 0;
  for (;;) {
    DWORD count = 0;
    if (!InternetReadFile(request.Get(), buffer.data(), kDownloadBlockSize, &count)) return Fail(view, kReadError);
    if (count == 0) break;
    if (head.size() < 2) head.append(buffer.data(), std::min<size_t>(count, 2 - head.size()));
    if (!WriteAll(file.Get(), buffer.data(), count)) return Fail(view, kReadError);
    received += count;
    ShowDownloadProgress(view, announced, static_cast<int32_t>(received));
  }
  // A connection that ended early, or a body that is no executable, replaces nothing.
  if (announced > 0 && received < announced) return Fail(view, kReadError);
  if (!StartsAsExecutable(head)) return Fail(view, kReadError);
  return 0;
}
