// A small driver for the update's GUI tests, run under Wine next to the programs
// it drives. Arguments are UTF-8 on the Unix side; results go to stdout in UTF-8.
//   wait-window TITLE MS [NOTPID]   a top-level window titled TITLE (of a process other than
//                                   NOTPID): "pid=N path=P"
//   wait-gone TITLE MS              until no window is titled TITLE
//   wait-class CLASS MS             a visible top-level window of CLASS:
//                                   "pid=N x y w h caption=LENGTH style=HEX progress=POSITION"
//   click TITLE BUTTON              posts BM_CLICK to the button captioned BUTTON
//   answer CAPTION ok|yes|no MS     a message box captioned CAPTION: prints "text=T", presses the button
//   close TITLE                     posts WM_CLOSE
//   sleep MS                        does nothing for MS (a stand-in service process)
// Exit code 0 on success, 1 when nothing was found in time, 2 on bad usage.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WindowText(HWND w) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(w, buffer, 1024);
  return buffer;
}

std::wstring ProcessPath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return L"";
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) size = 0;
  CloseHandle(process);
  return std::wstring(buffer, size);
}

template <typename Find>
HWND WaitFor(Find find, int ms) {
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(ms);
  for (;;) {
    if (HWND w = find()) return w;
    if (GetTickCount64() >= until) return nullptr;
    Sleep(50);
  }
}

struct ChildSearch {
  std::wstring text;
  HWND found = nullptr;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (WindowText(child) == search->text) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM param) {
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  if (lstrcmpiW(cls, L"Static") == 0) {
    auto* best = reinterpret_cast<std::wstring*>(param);
    std::wstring t = WindowText(child);
    if (t.size() > best->size()) *best = t;
  }
  return TRUE;
}

struct TitleSearch {
  std::wstring title;
  DWORD notPid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND w, LPARAM param) {
  auto* search = reinterpret_cast<TitleSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != search->notPid && WindowText(w) == search->title) {
    search->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindTitled(const std::wstring& title, DWORD notPid) {
  TitleSearch search{title, notPid};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Usage() {
  std::fputs("usage: update_probe wait-window|wait-class|click|answer|close|sleep ...\n", stderr);
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args(raw, raw + argc);
  LocalFree(raw);
  if (args.size() < 3) return Usage();
  const std::wstring& command = args[1];

  if (command == L"sleep") {
    Sleep(static_cast<DWORD>(_wtoi(args[2].c_str())));
    return 0;
  }
  if (command == L"wait-window" && args.size() >= 4) {
    const DWORD notPid = args.size() >= 5 ? static_cast<DWORD>(_wtoi(args[4].c_str())) : 0;
    HWND w = WaitFor([&] { return FindTitled(args[2], notPid); }, _wtoi(args[3].c_str()));
    if (!w) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    std::printf("pid=%lu path=%s\n", pid, Utf8(ProcessPath(pid)).c_str());
    return 0;
  }
  if (command == L"wait-gone" && args.size() >= 4) {
    HWND gone = WaitFor([&]() -> HWND { return FindTitled(args[2], 0) ? nullptr : GetDesktopWindow(); },
                        _wtoi(args[3].c_str()));
    return gone ? 0 : 1;
  }
  if (command == L"wait-class" && args.size() >= 4) {
    HWND w = WaitFor(
        [&]() -> HWND {
          HWND found = FindWindowW(args[2].c_str(), nullptr);
          return found && IsWindowVisible(found) ? found : nullptr;
        },
        _wtoi(args[3].c_str()));
    if (!w) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    RECT r{};
    GetWindowRect(w, &r);
    HWND bar = FindWindowExW(w, nullptr, L"msctls_progress32", nullptr);
    const long position = bar ? static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
    std::printf("pid=%lu %ld %ld %ld %ld caption=%d style=%lx progress=%ld\n", pid, r.left, r.top, r.right - r.left,
                r.bottom - r.top, GetWindowTextLengthW(w), static_cast<unsigned long>(GetWindowLongW(w, GWL_STYLE)),
                position);
    return 0;
  }
  if (command == L"click" && args.size() >= 4) {
    HWND w = FindWindowW(nullptr, args[2].c_str());
    if (!w) return 1;
    ChildSearch search{args[3]};
    EnumChildWindows(w, MatchChild, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return 1;
    PostMessageW(search.found, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"answer" && args.size() >= 5) {
    HWND box = WaitFor([&] { return FindWindowW(L"#32770", args[2].c_str()); }, _wtoi(args[4].c_str()));
    if (!box) return 1;
    // The box may be found before its text and buttons are in place.
    std::wstring text;
    const int id = args[3] == L"yes" ? IDYES : args[3] == L"no" ? IDNO : IDOK;
    for (int tries = 0; tries < 100; ++tries) {
      text.clear();
      EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
      if (!text.empty() && GetDlgItem(box, id) && IsWindowVisible(box)) break;
      Sleep(50);
    }
    std::printf("text=%s\n", Utf8(text).c_str());
    std::fflush(stdout);
    HWND button = GetDlgItem(box, id);
    if (!button) return 1;
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == L"close") {
    HWND w = FindWindowW(nullptr, args[2].c_str());
    if (!w) return 1;
    PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
  }
  return Usage();
}
