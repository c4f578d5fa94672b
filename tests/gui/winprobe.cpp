// A probe that GUI tests run beside the program under test, in the same Wine
// prefix: it finds windows by title and reads or drives their controls the way
// another process can. Arguments are UTF-8 on the Linux side (Wine hands them
// over as UTF-16); output is UTF-8, one result per line. Exit code 0 on success,
// 1 when the window or control is not found, 2 on bad usage.
//
//   winprobe rect TITLE                 left top right bottom screenWidth screenHeight
//   winprobe cells TITLE                one line per row, cells separated by tabs
//   winprobe select TITLE ROW           selects and focuses a row of the list view
//   winprobe click TITLE CAPTION        posts BM_CLICK to the child button with that caption
//   winprobe text TITLE ID              the text of the child control with that id
//   winprobe box CAPTION                the text of a message box with that caption
//   winprobe answer CAPTION BUTTON [MS] waits for a message box, prints "text=T" and presses a
//                                       button (ok, cancel, yes, no)
//   winprobe key TITLE esc|enter        brings the window forward and types the key
//   winprobe wait TITLE SECONDS         waits until a window with that title exists
//   winprobe pid TITLE                  process id owning the window
//   winprobe wait-window TITLE MS [NOTPID]  a window titled TITLE of a process other than NOTPID:
//                                       "pid=N path=P"
//   winprobe wait-gone TITLE MS         until no window is titled TITLE
//   winprobe wait-class CLASS MS        a visible top-level window of CLASS:
//                                       "pid=N x y w h caption=LENGTH style=HEX progress=POSITION"
//   winprobe close TITLE                posts WM_CLOSE
//   winprobe control TITLE ID           "x y": screen point at the centre of a child control
//   winprobe row TITLE ROW              "x y": screen point at the centre of a list-view row's first cell
//   winprobe selected TITLE             index of the list view's selected row, -1 when none
//   winprobe images                     image names of all running processes, one a line
//                                       (Wine's own tasklist lists nothing)
//   winprobe sleep MS                   does nothing for MS (a stand-in process)
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
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

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

HWND FindTopLevel(const std::wstring& title, const wchar_t* cls = nullptr) {
  for (int i = 0; i < 50; ++i) {  // up to about 5 s: the window may be on its way
    if (HWND w = FindWindowW(cls, title.c_str())) return w;
    Sleep(100);
  }
  return nullptr;
}

std::wstring WindowText(HWND w) {
  std::wstring text(GetWindowTextLengthW(w) + 1, L'\0');
  text.resize(GetWindowTextW(w, text.data(), static_cast<int>(text.size())));
  return text;
}

struct ChildSearch {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (WindowText(child) == search->caption) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

HWND FindChildByCaption(HWND parent, const std::wstring& caption) {
  ChildSearch search{caption};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindListView(HWND parent) {
  return FindWindowExW(parent, nullptr, WC_LISTVIEWW, nullptr);
}

// Memory inside the target process for list-view messages that carry pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND owner, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool Ok() const { return address_ != nullptr; }
  char* Address() const { return static_cast<char*>(address_); }
  bool Write(size_t offset, const void* data, size_t n) const {
    return WriteProcessMemory(process_, Address() + offset, data, n, nullptr);
  }
  bool Read(size_t offset, void* data, size_t n) const {
    return ReadProcessMemory(process_, Address() + offset, data, n, nullptr);
  }
  size_t Size() const { return size_; }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  size_t size_;
};

int Cells(HWND top) {
  HWND list = FindListView(top);
  if (!list) return 1;
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  const size_t kChars = 4096;
  RemoteBuffer remote(list, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!remote.Ok()) return 1;
  for (int r = 0; r < rows; ++r) {
    std::string line;
    for (int c = 0; c < columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.cchTextMax = kChars;
      item.pszText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(LVITEMW));
      remote.Write(0, &item, sizeof(item));
      int n = static_cast<int>(SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(remote.Address())));
      std::wstring text(n, L'\0');
      if (n > 0) remote.Read(sizeof(LVITEMW), text.data(), n * sizeof(wchar_t));
      // Tabs and line breaks inside a cell are shown escaped, so one row stays one line.
      std::string cell;
      for (char ch : Utf8(text)) {
        if (ch == '\r') cell += "\\r";
        else if (ch == '\n') cell += "\\n";
        else if (ch == '\t') cell += "\\t";
        else cell += ch;
      }
      line += (c ? "\t" : "") + cell;
    }
    Print(line);
  }
  return 0;
}

int Select(HWND top, int row) {
  HWND list = FindListView(top);
  if (!list) return 1;
  RemoteBuffer remote(list, sizeof(LVITEMW));
  if (!remote.Ok()) return 1;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Write(0, &item, sizeof(item));
  return SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.Address())) ? 0 : 1;
}

int PressKey(HWND top, const std::wstring& key) {
  WORD vk = key == L"esc" ? VK_ESCAPE : key == L"enter" ? VK_RETURN : 0;
  if (!vk) return 2;
  SetForegroundWindow(top);
  Sleep(200);
  INPUT input[2]{};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = vk;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  return SendInput(2, input, sizeof(INPUT)) == 2 ? 0 : 1;
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

int Answer(const std::wstring& caption, const std::wstring& button, int ms) {
  const int id = button == L"ok" ? IDOK : button == L"cancel" ? IDCANCEL : button == L"yes" ? IDYES
               : button == L"no" ? IDNO : 0;
  if (!id) return 2;
  HWND box = WaitFor([&] { return FindWindowW(L"#32770", caption.c_str()); }, ms);
  if (!box) return 1;
  // The box may be found before its text and buttons are in place.
  std::wstring text;
  for (int tries = 0; tries < 100; ++tries) {
    text.clear();
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
    if (!text.empty() && GetDlgItem(box, id) && IsWindowVisible(box)) break;
    Sleep(50);
  }
  Print("text=" + Utf8(text));
  HWND pressed = GetDlgItem(box, id);
  if (!pressed) return 1;
  PostMessageW(pressed, BM_CLICK, 0, 0);
  return 0;
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

DWORD OwnerPid(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

int WaitWindow(const std::wstring& title, int ms, DWORD notPid) {
  HWND w = WaitFor([&] { return FindTitled(title, notPid); }, ms);
  if (!w) return 1;
  Print("pid=" + std::to_string(OwnerPid(w)) + " path=" + Utf8(ProcessPath(OwnerPid(w))));
  return 0;
}

int WaitClass(const std::wstring& cls, int ms) {
  HWND w = WaitFor(
      [&]() -> HWND {
        HWND found = FindWindowW(cls.c_str(), nullptr);
        return found && IsWindowVisible(found) ? found : nullptr;
      },
      ms);
  if (!w) return 1;
  RECT r{};
  GetWindowRect(w, &r);
  HWND bar = FindWindowExW(w, nullptr, L"msctls_progress32", nullptr);
  const long position = bar ? static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
  char line[256];
  std::snprintf(line, sizeof(line), "pid=%lu %ld %ld %ld %ld caption=%d style=%lx progress=%ld", OwnerPid(w), r.left,
                r.top, r.right - r.left, r.bottom - r.top, GetWindowTextLengthW(w),
                static_cast<unsigned long>(GetWindowLongW(w, GWL_STYLE)), position);
  Print(line);
  return 0;
}

int PrintPoint(HWND window, POINT p) {
  if (!ClientToScreen(window, &p)) return 1;
  Print(std::to_string(p.x) + " " + std::to_string(p.y));
  return 0;
}

// LVM_GETITEMRECT carries a RECT pointer: the RECT must live in the list view's process.
int RowPoint(HWND top, int row) {
  HWND list = FindListView(top);
  if (!list) return 1;
  RemoteBuffer remote(list, sizeof(RECT));
  if (!remote.Ok()) return 1;
  RECT box{LVIR_LABEL, 0, 0, 0};
  remote.Write(0, &box, sizeof(box));
  if (!SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote.Address())) ||
      !remote.Read(0, &box, sizeof(box)))
    return 1;
  return PrintPoint(list, POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2});
}

int ControlPoint(HWND top, int id) {
  HWND child = GetDlgItem(top, id);
  if (!child) return 1;
  RECT r;
  GetClientRect(child, &r);
  return PrintPoint(child, POINT{r.right / 2, r.bottom / 2});
}

int Images() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    Print(Utf8(entry.szExeFile));
  CloseHandle(snapshot);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // plain LF line ends for the Linux side
  if (argc == 2 && std::wstring(argv[1]) == L"images") return Images();
  if (argc < 3) return 2;
  std::wstring verb = argv[1], title = argv[2];
  if (verb == L"answer") return argc > 3 ? Answer(title, argv[3], argc > 4 ? _wtoi(argv[4]) : 30000) : 2;
  if (verb == L"sleep") {
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  if (verb == L"wait-window" && argc > 3) return WaitWindow(title, _wtoi(argv[3]), argc > 4 ? _wtoi(argv[4]) : 0);
  if (verb == L"wait-gone" && argc > 3)
    return WaitFor([&]() -> HWND { return FindTitled(title, 0) ? nullptr : GetDesktopWindow(); }, _wtoi(argv[3])) ? 0
                                                                                                                  : 1;
  if (verb == L"wait-class" && argc > 3) return WaitClass(title, _wtoi(argv[3]));
  if (verb == L"box") {
    HWND box = FindTopLevel(title, L"#32770");
    if (!box) return 1;
    HWND text = GetDlgItem(box, 0xFFFF);  // the static text of a message box
    Print(Utf8(text ? WindowText(text) : L""));
    return 0;
  }
  if (verb == L"wait") {
    DWORD until = GetTickCount() + static_cast<DWORD>(argc > 3 ? _wtoi(argv[3]) * 1000 : 10000);
    while (GetTickCount() < until) {
      if (FindWindowW(nullptr, title.c_str())) return 0;
      Sleep(100);
    }
    return 1;
  }
  HWND top = FindTopLevel(title);
  if (!top) return 1;
  if (verb == L"rect") {
    RECT r;
    GetWindowRect(top, &r);
    Print(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
          std::to_string(r.bottom) + " " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
          std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    return 0;
  }
  if (verb == L"pid") {
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    Print(std::to_string(pid));
    return 0;
  }
  if (verb == L"cells") return Cells(top);
  if (verb == L"select") return argc > 3 ? Select(top, _wtoi(argv[3])) : 2;
  if (verb == L"click") {
    HWND button = argc > 3 ? FindChildByCaption(top, argv[3]) : nullptr;
    if (!button) return 1;
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (verb == L"text") {
    HWND child = argc > 3 ? GetDlgItem(top, _wtoi(argv[3])) : nullptr;
    if (!child) return 1;
    Print(Utf8(WindowText(child)));
    return 0;
  }
  if (verb == L"key") return argc > 3 ? PressKey(top, argv[3]) : 2;
  if (verb == L"close") return PostMessageW(top, WM_CLOSE, 0, 0) ? 0 : 1;
  if (verb == L"control") return argc > 3 ? ControlPoint(top, _wtoi(argv[3])) : 2;
  if (verb == L"row") return argc > 3 ? RowPoint(top, _wtoi(argv[3])) : 2;
  if (verb == L"selected") {
    HWND list = FindListView(top);
    if (!list) return 1;
    Print(std::to_string(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
    return 0;
  }
  return 2;
}
